#!/usr/bin/env bash
# What digital zoom costs: the viewer on a 1920 x 1080 Xvfb screen (its window 1280 x 720)
# playing one 1080p channel of tavix-sim (replayed, 4000 kbit/s) in the single tile, its CPU
# measured unzoomed, then zoomed 4.8 times (seven notches of the wheel over the tile, the
# part shown scaled from the decoded picture), then unzoomed again.
#
#   bench/zoom_figures.sh [SECONDS]      (needs a build in build/ or TAVIX_BIN, Xvfb, xdotool)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
seconds=${1:-20}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

source "$top/bench/figures_lib.sh"

Xvfb :79 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=:79
"$bin/tavix-sim" --port 0 --channels 1 --size 0=1920x1080 --bitrate 0=4000 --replay 0 \
    >"$work/sim.out" 2>&1 &
sleep 1
port=$(head -1 "$work/sim.out" | grep -o '"port":[0-9]*' | cut -d: -f2)

start_viewer zoom "$port" "$(printf '[walls]\n127.0.0.1%%3A%s=1, 0\n' "$port")"
echo "unzoomed: $(measure "$viewer" 5)% of a core"
# Over the tile: the middle of the screen is the middle of the window, inside the wall.
xdotool mousemove 1000 560
for notch in 1 2 3 4 5 6 7; do xdotool click 4; done
echo "zoomed 4.8x: $(measure "$viewer" 3)% of a core"
xdotool key ctrl+0
echo "unzoomed again: $(measure "$viewer" 3)% of a core"
