#!/usr/bin/env bash
# Builds the desktop program and runs it against the bundled demo service on
# loopback; the service stops again when the program ends. Without a display
# ($DISPLAY empty) both run under Xvfb: one search is made with xdotool and a
# screenshot is left in build/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."

# NDS_BUILD_DIR picks another, already configured build directory (default:
# build, from the linux preset).
build=${NDS_BUILD_DIR:-build}
scripts/bootstrap.sh
if [ -z "${NDS_BUILD_DIR:-}" ]; then
    cmake --preset linux >/dev/null
    cmake --build --preset linux --target netdisk-search netdisk-demo-service
else
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target netdisk-search netdisk-demo-service
fi
build=$(cd "$build" && pwd)

prog="$build/src/netdisk-search"
service="$build/tools/demo-service/netdisk-demo-service"
# The program takes no command line: it searches the host built into it
# (CMake setting NDS_SEARCH_HOST, 127.0.0.1:8765 by default), so the service
# goes on that host's port.
host=$(sed -n 's/^NDS_SEARCH_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
host=${host:-127.0.0.1:8765}
case "$host" in
    127.0.0.1:* | localhost:*) port=${host##*:} ;;
    *)
        echo "run.sh: the program was built to search $host, not the demo service on loopback" >&2
        exit 1
        ;;
esac
pids=()
scratch=$(mktemp -d)
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
# forget PID: a process already waited for leaves the list, so cleanup never
# signals whatever may have been given its number since.
forget() {
    local p keep=()
    for p in "${pids[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
    pids=("${keep[@]}")
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
    local tries=$(($1 * 10)) what=$2
    shift 2
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            echo "run.sh: timed out waiting for $what" >&2
            exit 1
        fi
        sleep 0.1
    done
}

if port_open; then
    echo "run.sh: port $port is already taken; the program searches $host," >&2
    echo "run.sh: so stop whatever listens there (or build with another NDS_SEARCH_HOST)." >&2
    exit 1
fi

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    display=""
    for n in $(seq 91 160); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=":$n"
            break
        fi
    done
    [ -n "$display" ] || { echo "run.sh: no free X display number" >&2; exit 1; }
    Xvfb "$display" -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    wait_for 10 "Xvfb on $display" xdpyinfo
fi

"$service" --port "$port" --log "$build/demo-service.log" &
service_pid=$!
pids+=($service_pid)
wait_for 10 "the demo service on port $port" port_open
kill -0 "$service_pid" 2>/dev/null || { echo "run.sh: the demo service did not start" >&2; exit 1; }
echo "run.sh: demo service on 127.0.0.1:$port (log: $build/demo-service.log)"

if [ "$headless" -eq 0 ]; then
    code=0
    "$prog" || code=$?
    exit "$code"
fi

# No display: one search under Xvfb, then a screenshot.
"$prog" &
prog_pid=$!
pids+=($prog_pid)
window_of() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_of "$1")" ]; }
logged() { grep -qF "$1" "$build/demo-service.log"; }

wait_for 10 "the start-up notice" has_window "信息："
xdotool windowfocus --sync "$(window_of "信息：")" key Return
wait_for 10 "the main window" has_window "搜索引擎"
wait_for 10 "the results window" has_window "搜索页面"
main=$(window_of "搜索引擎")
keyword="合集"  # a word of the demo corpus, 30 results
xdotool mousemove --window "$main" 160 20 click 1
xdotool windowfocus --sync "$main"
xdotool type --delay 40 "$keyword"
xdotool key Return
wait_for 15 "the search request" logged "GET /s?q=%BA%CF%BC%AF"
# The shot waits until the results are drawn: blue links in the view and the
# red summary line of ResultsWindow (client 264x20 at 224,8).
results=$(window_of "搜索页面")
pixels() {
    import -window "$results" "$scratch/shot.png" 2>/dev/null || return 1
    convert "$scratch/shot.png" -crop "$1" +repage -fuzz 25% -fill black +opaque "$2" \
        -fill white -opaque "$2" -format '%[fx:round(mean*w*h)]' info:
}
results_drawn() {
    local blue red
    blue=$(pixels "470x640+8+40" "#0000FF") || return 1
    red=$(pixels "264x20+224+8" "#FF0000") || return 1
    [ "$blue" -gt 500 ] && [ "$red" -gt 20 ]
}
wait_for 15 "the results to be drawn" results_drawn
import -window root "$build/screenshot.png"
echo "run.sh: screenshot of a search for $keyword: $build/screenshot.png"

xdotool windowfocus --sync "$main" key Escape
for _ in $(seq 1 50); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$prog_pid" 2>/dev/null; then
    kill "$prog_pid" 2>/dev/null || true
    wait "$prog_pid" 2>/dev/null || true
    forget "$prog_pid"
    echo "run.sh: the program still ran 5 s after Esc; it was stopped" >&2
    exit 1
fi
code=0
wait "$prog_pid" || code=$?
forget "$prog_pid"
echo "run.sh: the program ended with exit code $code"
