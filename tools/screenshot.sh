#!/usr/bin/env bash
# Paints a small picture with the real program on a private Xvfb and writes
# the window to docs/screenshot.png (the picture the README shows).
# Usage: tools/screenshot.sh [build-dir]   (default: build; built if missing)
# Needs Xvfb, xdotool and ImageMagick's import.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$top/build}")"
out="$top/docs/screenshot.png"

if [ ! -x "$build/malwerk" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALWERK_TESTS=OFF >/dev/null
  cmake --build "$build" --target malwerk
fi

scratch="$(mktemp -d /tmp/malwerk-shot-XXXXXX)"
xvfb_pid="" prog_pid=""
cleanup() {
  set +e  # a killed process's status must not end the cleanup early
  [ -n "$prog_pid" ] && kill "$prog_pid" 2>/dev/null && wait "$prog_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# The screen is exactly the window's size, so the window fills it.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$scratch/display")"

mkdir -p "$scratch/gfx"
cp "$top"/gfx/[1-7].bmp "$scratch/gfx/"
(cd "$scratch" && unset RIVEZ && exec "$build/malwerk") &
prog_pid=$!

win=""
for _ in $(seq 100); do
  win="$(xdotool search --onlyvisible --name '' 2>/dev/null | head -n1)" && [ -n "$win" ] && break
  sleep 0.05
done
[ -n "$win" ] || { echo "screenshot: no window appeared" >&2; exit 1; }
xdotool windowfocus "$win"  # no window manager gives it the focus
sleep 0.5

frames() { sleep 0.12; }  # several passes of the program's frame loop
move() { xdotool mousemove "$1" "$2"; frames; }
click() { move "$1" "$2"; xdotool mousedown 1; frames; xdotool mouseup 1; frames; }
# Holds the left button along the given points: drag x1 y1 x2 y2 ...
drag() {
  move "$1" "$2"; xdotool mousedown 1; frames; shift 2
  while [ $# -ge 2 ]; do move "$1" "$2"; shift 2; done
  xdotool mouseup 1; frames
}

# Toolbar: colour buttons in three columns (x 15, 38, 61) and six rows
# (y 60 ... 165); tools below.
colour() {
  case "$1" in
    white) click 15 60 ;; red) click 38 81 ;; darkred) click 61 81 ;;
    blue) click 15 102 ;; yellow) click 15 144 ;; mustard) click 38 144 ;;
    green) click 15 123 ;; darkgreen) click 38 123 ;; grey) click 38 60 ;;
    magenta) click 15 165 ;;
  esac
}
pen() { click 15 310; }
brush() { click 38 310; }
bucket() { click 61 310; }
lines() { click 15 331; }
dashed() { click 38 331; }
rectangle() { click 61 331; }
text() { click 15 352; }
box() {  # outline with the line tool: box x1 y1 x2 y2
  drag "$1" "$2" "$3" "$2"; drag "$3" "$2" "$3" "$4"; drag "$3" "$4" "$1" "$4"; drag "$1" "$4" "$1" "$2"
}

# The bucket fills up to pixels of its own colour: each shape is outlined
# and filled in the same colour.
lines; colour mustard; box 250 330 400 480
bucket; click 325 420
lines; colour red; drag 240 330 325 250; drag 325 250 410 330; drag 410 330 240 330
bucket; click 325 300
lines; colour darkred; box 300 420 340 480
bucket; click 320 450
lines; colour blue; box 350 360 386 396
bucket; click 368 378
lines; colour white; drag 368 360 368 396; drag 350 378 386 378

# Grass: a wavy pen stroke from edge to edge, filled below.
pen; colour darkgreen
drag 81 522 160 516 240 524 320 517 400 523 480 515 560 522 640 516 720 523 799 518
bucket; click 450 560

brush
colour darkred; for y in 505 490 475 460 445; do click 150 "$y"; done
colour green; for p in "150 420" "135 432" "165 432" "142 405" "158 405" "150 440" "128 418" "172 418"; do
  click $p
done
colour yellow; for p in "680 90" "690 98" "672 100" "684 108" "694 86"; do click $p; done
pen; drag 660 70 648 58; drag 710 72 722 60; drag 712 118 724 130; drag 658 118 646 130
brush; colour grey; for p in "200 90" "216 84" "232 90" "214 97"; do click $p; done
colour magenta; for p in "500 548" "560 557" "620 542" "690 560"; do click $p; done

# A sign with a dashed path to it, and a kite's dashed string.
rectangle; colour blue; drag 470 380 650 420
text; click 496 396; xdotool type --delay 30 'Malwerk'; xdotool key Return
dashed; colour grey; drag 345 470 470 410
colour magenta; drag 200 300 300 140
brush; click 300 140

# Saved under a name in the top bar; the text tool and red stay chosen.
click 200 10
xdotool type --delay 30 'haus.png'
xdotool key Return
frames
click 35 12
colour red; text
move 560 300
sleep 0.3

mkdir -p "$top/docs"
import -silent -window "$win" "png:$out"
echo "wrote $out"
