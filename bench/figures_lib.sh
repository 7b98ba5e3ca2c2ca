# What the figure scripts share; sourced, with $bin (the programs), $work (a scratch folder)
# and $seconds (how long to measure) set.

# CPU seconds (user + system) a process has used so far.
cpu_of() { awk '{ print ($14 + $15) / 100 }' "/proc/$1/stat"; }

# Percent of one core process $1 uses over $seconds, after $2 seconds of settling.
measure() {
    local pid=$1 before after
    sleep "$2"
    before=$(cpu_of "$pid")
    sleep "$seconds"
    after=$(cpu_of "$pid")
    awk -v a="$after" -v b="$before" -v s="$seconds" 'BEGIN { printf "%.1f", (a - b) * 100 / s }'
}

# start_viewer NAME PORT SETTINGS: the viewer on $DISPLAY with a saved login for 127.0.0.1:PORT
# and SETTINGS as its tavix.ini (the walls of its recorders), logged in by Return; sets $viewer.
start_viewer() {
    local home="$work/home-$1"
    mkdir -p "$home/config/tavix" "$home/program"
    cp "$bin/tavix" "$bin/language_eng.ini" "$home/program/"
    printf '%s' "$3" >"$home/config/tavix/tavix.ini"
    printf '[login]\r\nIP0=127.0.0.1\r\nPort0=%s\r\n' "$2" | iconv -t UTF-16LE >"$home/login.ini"
    cp "$home/login.ini" "$home/program/login.ini"
    cp "$home/login.ini" "$home/config/tavix/login.ini"
    HOME="$home" XDG_CONFIG_HOME="$home/config" DBUS_SESSION_BUS_ADDRESS=none: LANG=C.UTF-8 \
        "$home/program/tavix" >/dev/null 2>&1 &
    viewer=$!
    sleep 2
    xdotool key Return
}
