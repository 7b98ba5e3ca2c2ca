#!/usr/bin/env bash
# Two recorders played at once, each through a client of its own (tavix-probe play --also,
# --reconnect), two channels of each in images of a 2x2 tile's size: 10 s in, the second
# recorder stops answering (SIGSTOP); 10 s later it is killed and started again on the same
# port. Prints the first recorder's longest gap between two pictures while that happens, and
# the time until the second one's channels show pictures again.
#
#   bench/recorders_figures.sh            (needs a build in build/ or TAVIX_BIN)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="${TAVIX_BIN:-$top/build/bin}"
work=$(mktemp -d)
trap 'kill -CONT $(jobs -p) 2>/dev/null; kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

start_sim() {  # start_sim NAME PORT: sets $sim and $port
    "$bin/tavix-sim" --port "$2" --channels 2 --size all=352x288 >"$work/$1.out" 2>&1 &
    sim=$!
    sleep 1
    port=$(head -1 "$work/$1.out" | grep -o '"port":[0-9]*' | cut -d: -f2)
}

start_sim first 0
first_port=$port
start_sim second 0
second=$sim
second_port=$port

"$bin/tavix-probe" play 127.0.0.1 "$first_port" admin 702914 0,1 --seconds 40 --reconnect \
    --screen 640x360 --json --also "127.0.0.1:$second_port:admin:702914:0,1" >"$work/probe.json" &
probe=$!
sleep 10
kill -STOP "$second"
sleep 10
kill -KILL "$second"
wait "$second" 2>/dev/null
start_sim second-again "$second_port"
wait "$probe"

echo "recorder 0, longest gap between pictures per channel (ms):" \
    $(grep '"summary"' "$work/probe.json" | grep '"recorder":0' | grep -o '"gapMsMax":[0-9]*' | cut -d: -f2)
echo "recorder 1, outage to the first picture again per channel (backAfterMs, from its reconnecting event):" \
    $(grep '"back"' "$work/probe.json" | grep '"recorder":1' | grep -o '"backAfterMs":[0-9]*' | cut -d: -f2)
echo "recorder 1, reconnecting events:" \
    $(grep '"reconnecting"' "$work/probe.json" | grep -o '"channel":-*[0-9]*,"reason":"[a-z-]*"' | sort | uniq -c | tr -s ' ')
