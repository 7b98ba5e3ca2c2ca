#!/usr/bin/env bash
# The viewer's figures for a wall: in a 1280 x 720 window (two thirds of a 1920 x 1080 Xvfb
# screen), the CPU of the tavix process playing a wall from tavix-sim, the frames lost and the
# delay from capture of the same channels through tavix-probe (the same client and decoders,
# each picture converted into an image of the tile's size), and beside them, as the anchor, the CPU of ffplay showing the same number of streams
# of the same size and bit rate as one mosaic (xstack) in a window of the same size, and the
# floor: libavcodec alone decoding those streams at their pace (bench/decode_floor, one thread
# per stream and a pool of one per core).
#
#   bench/wall_figures.sh [SECONDS]      (default 20; needs a build in build/ or TAVIX_BIN, Xvfb,
#                                         ffplay)
#
# Cases: 16 channels of 352x288 in 4x4, 4 of 704x576 in 2x2, 1 of 1920x1080 alone.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
seconds=${1:-20}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

source "$top/bench/figures_lib.sh"

Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=:77

run_case() {  # run_case NAME COUNT SIZE SIDE KBITS
    local name=$1 count=$2 size=$3 side=$4 kbits=$5
    local sim_args=(--port 0 --channels "$count") channels="" wall="$side"
    for ((i = 0; i < count; ++i)); do
        sim_args+=(--size "$i=$size" --bitrate "$i=$kbits")
        channels+="${channels:+,}$i"
        wall+=", $i"
    done
    "$bin/tavix-sim" "${sim_args[@]}" >"$work/sim.out" 2>&1 &
    local sim=$!
    sleep 1
    local port
    port=$(head -1 "$work/sim.out" | grep -o '"port":[0-9]*' | cut -d: -f2)

    # The viewer, with the saved login and the wall of this recorder.
    start_viewer "$name" "$port" "$(printf '[walls]\n127.0.0.1%%3A%s=%s\n' "$port" "$wall")"
    local viewer_cpu
    viewer_cpu=$(measure "$viewer" 5)
    kill "$viewer"
    wait "$viewer" 2>/dev/null

    # The same channels through the probe, each shown as in its tile (--screen, where the probe
    # has it): frames lost and delay from capture to the picture in the tile's image.
    local screen=()
    "$bin/tavix-probe" play --help | grep -q -- --screen && screen=(--screen "$((1280 / side))x$((720 / side))")
    "$bin/tavix-probe" play 127.0.0.1 "$port" admin 702914 "$channels" --seconds "$seconds" \
        "${screen[@]}" --json >"$work/probe.json"
    kill "$sim"
    wait "$sim" 2>/dev/null
    local figures
    figures=$(grep '"summary"' "$work/probe.json" | awk '
        function field(name,   m) {
            if (match($0, "\"" name "\": *[0-9.]+")) {
                m = substr($0, RSTART, RLENGTH); sub(/.*: */, "", m); return m + 0
            }
            return 0
        }
        { lost += field("framesLost"); mean += field("delayMsMean"); n++
          p = field("delayMsP95"); if (p > p95) p95 = p }
        END { printf "frames lost %d, delay mean %.1f ms, worst channel p95 %d ms", lost, n ? mean / n : 0, p95 }')

    # The anchor: ffplay showing as many streams of this size as one mosaic. The stream lasts
    # longer than the measurement: the movie source cannot loop a raw H.264 file (it cannot seek
    # back), and ffplay would sit idle, showing nothing, for the rest of it.
    ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=$size:rate=25" -t "$((seconds + 15))" -c:v libx264 \
        -preset ultrafast -tune zerolatency -b:v "${kbits}k" -g 25 -bf 0 "$work/stream.h264"
    local graph="" inputs="" layout=""
    for ((i = 0; i < count; ++i)); do
        graph+="movie=$work/stream.h264:loop=0,setpts=N/25/TB[v$i];"
        inputs+="[v$i]"
        local column=$((i % side)) row=$((i / side)) x="0" y="0"
        for ((c = 0; c < column; ++c)); do x+="+w$c"; done
        for ((r = 0; r < row; ++r)); do y+="+h$((r * side))"; done
        layout+="${layout:+|}${x}_${y}"
    done
    if ((count > 1)); then
        graph+="${inputs}xstack=inputs=$count:layout=$layout[out0]"
    else
        graph="movie=$work/stream.h264:loop=0,setpts=N/25/TB[out0]"
    fi
    ffplay -loglevel error -x 1280 -y 720 -f lavfi "$graph" >/dev/null 2>&1 &
    local player=$!
    local ffplay_cpu
    ffplay_cpu=$(measure "$player" 5)
    kill "$player"
    wait "$player" 2>/dev/null

    local floor="none (no decode_floor in $bin)" floor_cpu=0
    [ -x "$bin/decode_floor" ] && floor=$("$bin/decode_floor" "$work/stream.h264" "$count" "$seconds")
    floor_cpu=$(echo "$floor" | sed -n 's/^threads per stream \([0-9.]*\)%.*/\1/p')

    echo "$name: tavix viewer ${viewer_cpu}% of a core; ffplay mosaic ${ffplay_cpu}%;" \
        "ratio $(awk -v a="$viewer_cpu" -v b="$ffplay_cpu" 'BEGIN { printf "%.2f", a / b }');" \
        "floor $floor, viewer/floor $(awk -v a="$viewer_cpu" -v b="$floor_cpu" 'BEGIN { printf "%.2f", a / b }');" \
        "$figures"
}

run_case "16 x 352x288 in 4x4" 16 352x288 4 284
run_case "4 x 704x576 in 2x2" 4 704x576 2 1000
run_case "1 x 1920x1080 alone" 1 1920x1080 1 4000
