#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh tests
# The benchmarks are built too (not run), so that they keep compiling against the code they measure.
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_BENCH=ON
cmake --build build-tests -j"$(nproc)"
ctest --test-dir build-tests --output-on-failure -j"$(nproc)"
