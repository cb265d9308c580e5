#!/usr/bin/env bash
# Runs the benchmarks of a built tree: tools/bench.sh [plumweave_bench options...]
# (PW_BENCH_DIR names the tree, "build" by default). The idle benchmark measures the editor in a
# window, so the run gets a display from Xvfb, started the way the test command starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${PW_BENCH_DIR:-build}"
bench="$root/$dir/bin/plumweave_bench"
[ -x "$bench" ] || { echo "tools/bench.sh: $bench is not built (bash tools/build.sh $dir)" >&2; exit 1; }
export PLUMWEAVE_NONINTERACTIVE=1
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$bench" "$@"
