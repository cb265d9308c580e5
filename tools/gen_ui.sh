#!/usr/bin/env bash
# Regenerates the GUI images under data/UI/: tools/gen_ui.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build}"
cmake --build "$root/$dir" --target plumweave_uigen
mkdir -p "$root/data/UI"
"$root/$dir/bin/plumweave_uigen" "$root/data/UI"
