#!/usr/bin/env bash
# Regenerates the engine's debug font (data/Engine/DebugFont.fnt and its page) from DejaVu Sans
# Mono, with the font's licence notice beside it: tools/gen_debugfont.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build}"
cmake --build "$root/$dir" --target plumweave_fontgen
"$root/$dir/bin/plumweave_fontgen" /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf "$root/data/Engine" DebugFont 27 512 256 4
cp /usr/share/doc/fonts-dejavu-core/copyright "$root/data/Engine/DejaVuSansMono.LICENSE.txt"
