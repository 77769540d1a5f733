// main() of a umockdev test: exits 77 (skipped) when the process was not started under
// umockdev-wrapper, since the real /sys and /dev would then be in use.
#pragma once

#include "UsbfsBridge.h"

#include <QtTest>

#include <cstdio>

#define KORVANE_UMOCKDEV_TEST_MAIN(TestClass, Application)                                  \
    int main(int argc, char **argv)                                                       \
    {                                                                                     \
        if (!UsbfsBridge::preloaded()) {                                                  \
            std::puts("not run under umockdev-wrapper: skipped");                         \
            return 77;                                                                    \
        }                                                                                 \
        Application app(argc, argv);                                                      \
        TestClass test;                                                                   \
        return QTest::qExec(&test, argc, argv);                                           \
    }
