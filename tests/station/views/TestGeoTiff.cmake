# The GeoTIFF writer of the map tests, which the benchmarks use too: defined once, by whichever of
# the two folders includes this first, so that the benchmarks build with or without the tests.
include_guard(GLOBAL)
add_library(korvane_test_geotiff STATIC ${CMAKE_CURRENT_LIST_DIR}/TestGeoTiff.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/TestGeoTiff.h)
target_include_directories(korvane_test_geotiff PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(korvane_test_geotiff PUBLIC Qt5::Gui GeoTIFF::GeoTIFF)
