#!/usr/bin/env bash
# Screenshots of the editor's node panels after the canvas was zoomed and panned as a user does
# it (mouse wheel, Shift-drag), for looking at the widgets inside their boxes and their values.
#   tools/panel_shots.sh [build dir] [output dir]
# Writes zoomed-in.png and zoomed-in-lower.png (three wheel steps in, zoom 1.95, panned to the
# upper and the lower row of nodes), zoomed-out.png (three in, three out: zoom 0.82) and
# zoomed-far-out.png (two more out: 0.46) into the output dir (default: <build dir>/screens).
# Starts its own Xvfb when there is no display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="${2:-$build/screens}"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$out"
fi
mkdir -p "$out"
out="$(cd "$out" && pwd)"
work="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# One node of every widget kind: choice button, float and integer fields, toggles, check boxes,
# an expanded animation curve, the file and the template buttons.
cp "$root/samples/Sample.png" "$work/"
cat > "$work/Panels.kvf" <<'EOF'
GKV_File_Version_2
NODE STexNode_File _ID="0" pos0="40;60" NName="Picture" TexName="Sample.png" RelKVF="1"
NODE STexNode_ColorRGBA _ID="1" pos0="40;300" NName="Tint" Color="0.25;0.5;0.75;1"
NODE STexNode_Blend _ID="2" pos0="220;60" NName="Mix" BlendMode="3" BlendAmt="0.625"
NODE STexNode_GPUClouds _ID="3" pos0="220;300" NName="Clouds" AnimData="ANIM 0 1 2
POINT 0;0.25
POINT 1;0.75

"
NODE STexNode_Add _ID="4" pos0="400;60" NName="Sum"
NODE STexNode_Extract _ID="5" pos0="580;60" NName="Saved" TexName="Panels-out.png" RelKVF="1"
LINK 0 0 2 0
LINK 1 0 2 1
LINK 2 0 4 0
LINK 3 0 4 1
LINK 4 0 5 0
EOF

cd "$work"
"$build/bin/plumweave" "$work/Panels.kvf" > "$work/plumweave.log" 2>&1 &
pid=$!
wid="$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -n1)"
[ -n "$wid" ] || { echo "panel_shots: the editor's window did not appear" >&2; cat "$work/plumweave.log" >&2; exit 1; }
xdotool windowfocus "$wid" 2>/dev/null || true
sleep 2

# The canvas zooms about the middle of the window.
xdotool mousemove --window "$wid" 512 288
wheel() { # button (4 in, 5 out), steps
  for _ in $(seq "$2"); do xdotool click "$1"; sleep 0.2; done
  sleep 0.5
}
shot() {
  sleep 1
  import -window "$wid" "$out/$1"
  echo "panel_shots: $out/$1"
}

pan() { # Shift-drag from (x0, y0) to (x1, y1)
  xdotool mousemove --window "$wid" "$1" "$2" keydown Shift_L
  sleep 0.3
  xdotool mousemove --window "$wid" "$3" "$4"
  sleep 0.3
  xdotool keyup Shift_L
  sleep 0.3
}

wheel 4 3
# The graph's top left corner into view.
pan 200 150 600 450
xdotool mousemove --window "$wid" 512 288
shot zoomed-in.png
# The lower row: colour fields, integer fields, a check box and an animation curve.
pan 512 500 512 100
shot zoomed-in-lower.png

wheel 5 3
# Back to the graph's own place, now at zoom 0.82.
pan 512 100 512 270
pan 600 450 431 323
shot zoomed-out.png
wheel 5 2
shot zoomed-far-out.png
