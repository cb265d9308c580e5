#!/usr/bin/env bash
# Regenerates the GUI font (data/UI/GUIFont.fnt and its page, named by the "FONT" text) from
# DejaVu Sans Mono, with the font's licence notice beside it: tools/gen_guifont.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build}"
cmake --build "$root/$dir" --target plumweave_fontgen
"$root/$dir/bin/plumweave_fontgen" /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf "$root/data/UI" GUIFont 32 512 512 4
cp /usr/share/doc/fonts-dejavu-core/copyright "$root/data/UI/DejaVuSansMono.LICENSE.txt"
