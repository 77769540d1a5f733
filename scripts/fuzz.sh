#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang (address and undefined-behaviour sanitizers),
# fuzzes each one in turn for the given time on a scratch copy of its seed corpus, then replays every
# committed corpus and regression input. Exits non-zero when any target crashes or fails a check;
# the failing inputs are kept in build-fuzz/artifacts/.
#   bash scripts/fuzz.sh                       # 60 s per target
#   bash scripts/fuzz.sh 600                   # 10 minutes per target
#   bash scripts/fuzz.sh 300 fuzz_track_download fuzz_geotiff_load
#   bash scripts/fuzz.sh 0                     # build and replay only
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
all_targets=(fuzz_beacon_info fuzz_position_record fuzz_track_download fuzz_msos_descriptors fuzz_geotiff_load)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || { echo "no such fuzz target: $t" >&2; exit 2; }
done

bash scripts/install-deps.sh fuzz

dir=build-fuzz
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKORVANE_BUILD_FUZZERS=ON -DKORVANE_BUILD_TESTS=OFF
build_targets=()
for t in "${all_targets[@]}"; do
  build_targets+=("$t" "${t}_replay")
done
cmake --build "$dir" -j"$(nproc)" --target "${build_targets[@]}"

# The download and map targets write files for every input: a memory file system keeps that fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The failing inputs of this run only.
artifacts="$PWD/$dir/artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

# Inputs longer than the formats need only slow the search down.
max_len() {
  case "$1" in
    fuzz_beacon_info|fuzz_position_record) echo 128 ;;
    fuzz_msos_descriptors) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

failed=()
if [ "$seconds" -gt 0 ]; then
  for t in "${targets[@]}"; do
    echo "=== $t: ${seconds} s"
    cp -r "fuzz/corpus/$t" "$work/$t"
    log="$work/$t.log"
    # One job at a time: the sanitizers already take the machine's memory and time.
    if "$dir/fuzz/$t" "$work/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
         -timeout=60 -report_slow_units=60 -rss_limit_mb=2560 -print_final_stats=1 \
         -artifact_prefix="$artifacts/$t-" \
         >"$log" 2>&1; then
      grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log"
    else
      cp "$log" "$artifacts/"
      tail -n 80 "$log"
      echo "=== $t FAILED: the input and the whole log are in $artifacts/"
      echo "    (add the input to fuzz/regressions/$t/ with the fix)"
      failed+=("$t")
    fi
  done
fi

echo "=== replaying fuzz/corpus and fuzz/regressions"
ctest --test-dir "$dir/fuzz" --output-on-failure -L fuzz || failed+=(replay)

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
