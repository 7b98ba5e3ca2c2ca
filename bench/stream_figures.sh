#!/usr/bin/env bash
# The figures of sub streams in the wall: a 4x4 wall of tavix-sim's 16 channels with 1920x1080
# main streams at 4 Mbit/s and 352x288 sub streams, all replayed, in a 1280 x 720 window (on a
# 1920 x 1080 Xvfb screen):
# - the viewer's CPU with the wall's own choice (sub streams) and with every tile forced to the
#   main stream (the tile menu's choice, saved per recorder);
# - the same 16 channels through tavix-probe, each picture converted into an image of a tile's
#   size: frames lost, delay from capture, network intake;
# - a switch of one channel from sub to main and back, as a double click on a tile does, with
#   the time to the new stream's first picture;
# - the time to the first picture when a device sends no sub stream (--no-sub all).
#
#   bench/stream_figures.sh [SECONDS]    (default 20; needs a build in build/ or TAVIX_BIN,
#                                         Xvfb, xdotool)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
seconds=${1:-20}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

source "$top/bench/figures_lib.sh"

# The sum or worst of the probe's summaries: frames lost, mean delay, p95, kbit/s received.
summaries() {
    grep '"summary"' "$1" | awk '
        function field(name,   m) {
            if (match($0, "\"" name "\": *[0-9.]+")) {
                m = substr($0, RSTART, RLENGTH); sub(/.*: */, "", m); return m + 0
            }
            return 0
        }
        { lost += field("framesLost"); mean += field("delayMsMean"); n++
          bytes += field("bytes"); s = field("seconds"); rate += field("picturesPerSecond")
          p = field("delayMsP95"); if (p > p95) p95 = p }
        END { printf "%.1f pictures/s per channel, frames lost %d, delay mean %.1f ms, worst p95 %d ms, intake %.1f Mbit/s",
              n ? rate / n : 0, lost, n ? mean / n : 0, p95, s ? bytes * 8 / s / 1e6 : 0 }'
}

Xvfb :78 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=:78

start_sim() {  # start_sim ARGS...: sets $sim and $port
    "$bin/tavix-sim" --port 0 "$@" >"$work/sim.out" 2>&1 &
    sim=$!
    sleep 1
    port=$(head -1 "$work/sim.out" | grep -o '"port":[0-9]*' | cut -d: -f2)
}

wall="4"
streams=""
channels=""
for ((i = 0; i < 16; ++i)); do
    wall+=", $i"
    streams+="${streams:+, }1"
    channels+="${channels:+,}$i"
done

viewer_case() {  # viewer_case NAME STREAMS-ENTRY SETTLE
    local settings
    settings=$(printf '[walls]\n127.0.0.1%%3A%s=%s\n' "$port" "$wall")
    [ -n "$2" ] && settings+=$(printf '\n[streams]\n127.0.0.1%%3A%s=%s\n' "$port" "$2")
    start_viewer "$1" "$port" "$settings"
    echo "viewer, 4x4, $1: $(measure "$viewer" "$3")% of a core"
    kill "$viewer"
    wait "$viewer" 2>/dev/null
}

# The sub streams are encoded live, so that their pictures carry the frame stamp (frames lost,
# delay); the main streams are asked for only in the second case, from a simulator that replays
# them: sixteen live 1080p encoders would take more than the machine has.
start_sim --channels 16 --size all=1920x1080 --bitrate all=4000
viewer_case "the wall's choice (sub streams, live-encoded)" "" 5
"$bin/tavix-probe" play 127.0.0.1 "$port" admin 702914 "$channels" --seconds "$seconds" \
    --screen 320x180 --stream sub --json >"$work/sub.json"
echo "probe, 16 sub streams: $(summaries "$work/sub.json")"
kill "$sim"
wait "$sim" 2>/dev/null

start_sim --channels 16 --size all=1920x1080 --bitrate all=4000 --replay all
viewer_case "the wall's choice (sub streams, replayed)" "" 5
# The simulator encodes each main stream's loop once, at its first request: the first run
# settles longer.
viewer_case "every tile forced to main (replayed)" "$streams" 20
"$bin/tavix-probe" play 127.0.0.1 "$port" admin 702914 "$channels" --seconds "$seconds" \
    --screen 320x180 --stream main --json >"$work/main.json"
echo "probe, 16 main streams (no stamps: pictures/s tells what was lost): $(summaries "$work/main.json")"

# One channel switching every 3 s: sub to main (a double click), main to sub (back).
"$bin/tavix-probe" play 127.0.0.1 "$port" admin 702914 5 --seconds 19.5 --stream sub --switch 3 \
    --json >"$work/switch.json"
echo "switches of channel 5 (afterMs, to stream type):" \
    $(grep '"switched"' "$work/switch.json" | sed 's/.*"streamType":\([0-9]*\).*"afterMs":\([0-9]*\).*/\2 ms->\1/')
kill "$sim"
wait "$sim" 2>/dev/null

start_sim --channels 1 --size 0=1920x1080 --bitrate 0=4000 --no-sub all
"$bin/tavix-probe" play 127.0.0.1 "$port" admin 702914 0 --seconds 8 --stream sub --json \
    >"$work/fallback.json"
echo "no sub stream: $(grep -c '"fallback"' "$work/fallback.json") fall-back," \
    "first picture $(grep '"summary"' "$work/fallback.json" | grep -o '"firstPictureMs":[0-9]*' | cut -d: -f2) ms after the stream result," \
    "$(grep '"summary"' "$work/fallback.json" | grep -o '"width":[0-9]*' | cut -d: -f2) wide"
