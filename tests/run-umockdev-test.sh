#!/bin/sh
# Runs a test of the real USB backends under umockdev: its preload library presents the test bed's
# sysfs, /dev/bus/usb nodes and uevents to the test. Exits 77 (reported as skipped by ctest) where
# umockdev is not installed.
set -e
home="$1"; shift
if ! command -v umockdev-wrapper >/dev/null 2>&1; then
    echo "umockdev is not installed (apt-get install umockdev): skipped"
    exit 77
fi
# umockdev's library comes before the sanitizer's run-time in the preload list.
if [ -n "${ASAN_OPTIONS+set}" ]; then
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
    export ASAN_OPTIONS
fi
exec sh "$(dirname "$0")/run-test.sh" "$home" umockdev-wrapper "$@"
