#!/usr/bin/env bash
# Builds with sanitizers and runs the tests under them.
#   bash scripts/sanitize.sh address   # AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer, every test
#   bash scripts/sanitize.sh thread    # ThreadSanitizer, the tests labelled "threads" but not "heavy"
#                                      (the long module sweeps, which exercise no more thread interplay)
# Both include the tests of the real USB backend under umockdev (names with "umockdev", labelled
# "threads"): tests/run-umockdev-test.sh preloads umockdev's library and, under AddressSanitizer,
# adds verify_asan_link_order=0, since that library then comes before the sanitizer's run-time.
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-address}"
bash scripts/install-deps.sh tests
case "$kind" in
  address)
    dir=build-asan
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE=address,undefined
    cmake --build "$dir" -j"$(nproc)"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -LE nosan
    ;;
  thread)
    dir=build-tsan
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE=thread
    cmake --build "$dir" -j"$(nproc)"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
      ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -L threads -LE heavy
    ;;
  *) echo "usage: $0 address|thread" >&2; exit 2 ;;
esac
