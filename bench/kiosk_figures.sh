#!/usr/bin/env bash
# A control-room start: `tavix --view Hall --fullscreen` on a 1920 x 1080 Xvfb screen, the view
# a 2x2 wall of tavix-sim's four 352x288 channels, the recorder known from an earlier login and
# its password saved. Prints the milliseconds from the program's start until each tile first
# shows a picture (bench/screen_watch, which starts with it), over three starts.
#
#   bench/kiosk_figures.sh      (needs a build in build/ or TAVIX_BIN, Xvfb)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

Xvfb :80 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=:80
"$bin/tavix-sim" --port 0 --channels 4 --size all=352x288 >"$work/sim.out" 2>&1 &
sleep 1
port=$(head -1 "$work/sim.out" | grep -o '"port":[0-9]*' | cut -d: -f2)

home="$work/home"
mkdir -p "$home/config/tavix" "$home/program"
cp "$bin/tavix" "$bin/language_eng.ini" "$home/program/"
printf '[recorders]\n1\\address=127.0.0.1\n1\\port=%s\n1\\user=admin\nsize=1\n' "$port" \
    >"$home/config/tavix/tavix.ini"
tiles=""
for channel in 0 1 2 3; do
    tiles+="${tiles:+,}{\"recorder\":\"127.0.0.1:$port\",\"channel\":$channel,\"stream\":0}"
done
printf '{"last":"","views":[{"name":"Hall","side":2,"tiles":[%s]}]}\n' "$tiles" \
    >"$home/config/tavix/views.json"
printf '[login]\r\nIP0=127.0.0.1\r\nPort0=%s\r\nUser0=admin\r\nPwd0=702914\r\n' "$port" |
    iconv -t UTF-16LE >"$home/config/tavix/login.ini"

for run in 1 2 3; do
    "$bin/screen_watch" 2 15 >"$work/watch.out" &
    watch=$!
    HOME="$home" XDG_CONFIG_HOME="$home/config" DBUS_SESSION_BUS_ADDRESS=none: LANG=C.UTF-8 \
        "$home/program/tavix" --view Hall --fullscreen >/dev/null 2>&1 &
    viewer=$!
    wait "$watch"
    echo "start $run: first picture of each tile after (ms): $(cat "$work/watch.out")"
    kill "$viewer"
    wait "$viewer" 2>/dev/null
done
