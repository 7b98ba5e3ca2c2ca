#!/usr/bin/env bash
# One recorder of two going away under the viewer's eyes: two tavix-sim with two 352x288
# channels each, both in the recorder list, and `tavix --view Both --fullscreen` on a 1920 x 1080
# Xvfb screen, the view a 2x2 wall of the first recorder's channels (top) and the second's
# (bottom). 10 s in, the second simulator stops answering (SIGSTOP); 10 s later it is killed and
# started again on the same port. bench/screen_watch --gaps prints for each tile the longest time
# its picture did not change; the first recorder's tiles should show no more than the time
# between two pictures.
#
#   bench/outage_figures.sh     (needs a build in build/ or TAVIX_BIN, Xvfb)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
work=$(mktemp -d)
trap 'kill -CONT $(jobs -p) 2>/dev/null; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
now_ms() { date +%s%3N; }

start_sim() {  # start_sim NAME PORT: sets $sim and $port
    "$bin/tavix-sim" --port "$2" --channels 2 --size all=352x288 >"$work/$1.out" 2>&1 &
    sim=$!
    sleep 1
    port=$(head -1 "$work/$1.out" | grep -o '"port":[0-9]*' | cut -d: -f2)
}

Xvfb :81 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=:81
start_sim first 0
first_port=$port
start_sim second 0
second=$sim
second_port=$port

home="$work/home"
mkdir -p "$home/config/tavix" "$home/program"
cp "$bin/tavix" "$bin/language_eng.ini" "$home/program/"
printf '{"recorders":[%s,%s]}\n' \
    "{\"name\":\"Shop\",\"address\":\"127.0.0.1\",\"port\":$first_port,\"user\":\"admin\",\"password\":\"702914\"}" \
    "{\"name\":\"Warehouse\",\"address\":\"127.0.0.1\",\"port\":$second_port,\"user\":\"admin\",\"password\":\"702914\"}" \
    >"$home/config/tavix/recorders.json"
tiles=""
for tile in "$first_port:0" "$first_port:1" "$second_port:0" "$second_port:1"; do
    tiles+="${tiles:+,}{\"recorder\":\"127.0.0.1:${tile%:*}\",\"channel\":${tile#*:},\"stream\":0}"
done
printf '{"last":"","views":[{"name":"Both","side":2,"tiles":[%s]}]}\n' "$tiles" \
    >"$home/config/tavix/views.json"
printf '[login]\r\nIP0=127.0.0.1\r\nPort0=%s\r\nUser0=admin\r\nPwd0=702914\r\n' "$first_port" |
    iconv -t UTF-16LE >"$home/config/tavix/login.ini"

HOME="$home" XDG_CONFIG_HOME="$home/config" DBUS_SESSION_BUS_ADDRESS=none: LANG=C.UTF-8 \
    "$home/program/tavix" --view Both --fullscreen >/dev/null 2>&1 &
viewer=$!
sleep 3
"$bin/screen_watch" 2 40 --gaps >"$work/watch.out" &
watch=$!
started=$(now_ms)
sleep 10
kill -STOP "$second"
sleep 10
kill -KILL "$second"
wait "$second" 2>/dev/null
restarted=$(($(now_ms) - started))
start_sim second-again "$second_port"
wait "$watch"
kill "$viewer"

read -r -a gap <"$work/watch.out"
echo "stopped at 10000 ms, restarted at $restarted ms (since the watch began); one grab every $(sed -n 2p "$work/watch.out") ms"
echo "first recorder, longest time a tile's picture stood still (ms@from-to): ${gap[0]} ${gap[1]}"
for tile in 2 3; do
    to=${gap[$tile]##*-}
    echo "second recorder, tile $tile: still ${gap[$tile]}; moving again $((to - restarted)) ms after the restart"
done
