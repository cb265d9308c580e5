#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang in build-fuzz and runs each for a bounded time
# (PW_FUZZ_SECONDS, default 10) on the seed corpus the target writes into build-fuzz/corpus.
# Fails on any finding; the input that caused it is kept in build-fuzz/artifacts and belongs in a
# regular test in tests/.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
dir=build-fuzz
seconds="${PW_FUZZ_SECONDS:-10}"
# libFuzzer takes 0 as "no limit", and a text as 0.
if ! [[ "$seconds" =~ ^[1-9][0-9]{0,5}$ ]]; then
  echo "fuzz.sh: PW_FUZZ_SECONDS must be a whole number of seconds from 1 to 999999, not '$seconds'" >&2
  exit 2
fi
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DPW_FUZZ=ON -DPW_BENCH=OFF > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
cmake --build "$dir" -j "$(nproc)" --target pwfuzz || exit 1

mkdir -p "$dir/logs" "$dir/artifacts"
export PLUMWEAVE_NONINTERACTIVE=1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
# Quoted inside the option: the clone's path may hold blanks or colons.
export LSAN_OPTIONS="suppressions='$root/tests/lsan.supp':print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
names=()
pids=()
for bin in "$dir"/bin/fuzz_*; do
  name="$(basename "$bin")"
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  # Output of the engine itself (stdout, stderr) is dropped; libFuzzer and the sanitizers still report.
  env -u DISPLAY PW_FUZZ_SEEDS_DIR="$corpus" "$bin" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-" "$corpus" \
    > "$dir/logs/$name.log" 2>&1 &
  names+=("$name")
  pids+=("$!")
done
status=0
printf '%-22s %12s %s\n' "target" "executions" "result"
for i in "${!pids[@]}"; do
  name="${names[$i]}"
  log="$dir/logs/$name.log"
  if wait "${pids[$i]}"; then
    result="nothing found"
  else
    result="FINDING (see $log)"
    status=1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  printf '%-22s %12s %s\n' "$name" "${runs:-?}" "$result"
  if [ "$status" -ne 0 ] && [ "$result" != "nothing found" ]; then
    tail -40 "$log"
  fi
done
exit $status
