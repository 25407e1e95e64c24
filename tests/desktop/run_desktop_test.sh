#!/usr/bin/env bash
# The desktop program end to end, on its own Xvfb display, driven by xdotool
# against the demo service. Checks only what X and the service can tell:
# window titles and places, the service's request log, screen pixels and the
# exit code.
#   usage: run_desktop_test.sh NETDISK_SEARCH DEMO_SERVICE [SEARCH_HOST]
# SEARCH_HOST is the host:port the program was built to search (NDS_SEARCH_HOST,
# default 127.0.0.1:8765); the demo service is started on that port.
set -uo pipefail

prog=${1:?netdisk-search binary}
service=${2:?netdisk-demo-service binary}
host=${3:-127.0.0.1:8765}
port=${host##*:}
work=$(mktemp -d)
shot_on_failure="${TMPDIR:-/tmp}/desktop_e2e_failure.png"
pids=()

cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
# forget PID: a process already waited for leaves the list, so cleanup never
# signals whatever may have been given its number since.
forget() {
    local p keep=()
    for p in "${pids[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
    pids=("${keep[@]}")
}

fail() {
    echo "FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ] && import -window root "$shot_on_failure" 2>/dev/null; then
        echo "the screen at the failure: $shot_on_failure" >&2
    fi
    if [ -s "$work/service.log" ]; then
        echo "--- service log:" >&2
        cat "$work/service.log" >&2
    fi
    if [ -s "$work/program.out" ]; then
        echo "--- program output:" >&2
        cat "$work/program.out" >&2
    fi
    exit 1
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local tries=$((seconds * 10))
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}

for tool in Xvfb xdotool xdpyinfo import convert; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/bootstrap.sh installs it)"
done

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
if port_open; then
    fail "port $port is in use; the program always searches $host, so this test needs it free"
fi

# A display of our own.
display=""
for n in $(seq 91 160); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || fail "no free X display number"
Xvfb "$display" -screen 0 1440x900x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
pids+=($!)
export DISPLAY=$display
wait_for 10 "Xvfb on $display" xdpyinfo

"$service" --port "$port" --log "$work/service.log" >"$work/service.out" 2>&1 &
pids+=($!)
service_pid=$!
wait_for 10 "the demo service on port $port" port_open
sleep 0.2
kill -0 "$service_pid" 2>/dev/null || fail "the demo service did not start on port $port"

"$prog" >"$work/program.out" 2>&1 &
prog_pid=$!
pids+=($prog_pid)

window_of() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_of "$1")" ]; }
position_of() { xdotool getwindowgeometry "$1" | sed -n 's/ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'; }
size_of() { xdotool getwindowgeometry "$1" | sed -n 's/ *Geometry: \([0-9]*x[0-9]*\).*/\1/p'; }
at() { [ "$(position_of "$1")" = "$2" ]; }
logged() { grep -qxF "$1" "$work/service.log"; }

# The start-up notice comes first, alone; OK closes it.
wait_for 10 "the start-up notice" has_window "信息："
notice=$(window_of "信息：")
has_window "搜索引擎" && fail "MainWindow is shown before the start-up notice is closed"
xdotool windowfocus --sync "$notice" key Return
wait_for 10 "both windows" has_window "搜索页面"
wait_for 10 "MainWindow" has_window "搜索引擎"
main=$(window_of "搜索引擎")
results=$(window_of "搜索页面")

# Start places: the X window is the client area, so it stands at the outer
# corner plus the frame (3 px left, 22 px top); sizes are the outer sizes less
# the frame (6 px across, 25 px down).
wait_for 5 "MainWindow at (568, 40)" at "$main" "571,62"
wait_for 5 "ResultsWindow at (864, 37)" at "$results" "867,59"
[ "$(size_of "$main")" = "272x164" ] || fail "MainWindow client size $(size_of "$main"), want 272x164"
[ "$(size_of "$results")" = "489x743" ] || fail "ResultsWindow client size $(size_of "$results"), want 489x743"

# Pixels of a colour (within a fuzz) in a rectangle WxH+X+Y of a window.
pixels() {
    local window=$1 geometry=$2 colour=$3
    import -window "$window" "$work/shot.png" 2>/dev/null || return 1
    convert "$work/shot.png" -crop "$geometry" +repage -fuzz 25% -fill black +opaque "$colour" \
        -fill white -opaque "$colour" -format '%[fx:round(mean*w*h)]' info:
}
view_area="470x640+8+40"
blue_before=$(pixels "$results" "$view_area" "#0000FF")
red_before=$(pixels "$results" "264x20+224+8" "#FF0000")

# A Chinese keyword, typed as UTF-8, reaches the service as its GBK bytes.
xdotool mousemove --window "$main" 160 20 click 1
xdotool windowfocus --sync "$main"
xdotool type --delay 40 "合集"
xdotool key Return
wait_for 15 "the search request for 合集 in GBK" logged "GET /s?q=%BA%CF%BC%AF"

# The results appear: blue links in the view, the red summary line.
results_shown() {
    local blue red
    blue=$(pixels "$results" "$view_area" "#0000FF") || return 1
    red=$(pixels "$results" "264x20+224+8" "#FF0000") || return 1
    [ "$blue" -gt $((blue_before + 500)) ] && [ "$red" -gt $((red_before + 20)) ]
}
wait_for 15 "results in ResultsWindow (blue links and the red summary)" results_shown

# The next-page button (client 384,712, 100x24) asks for the second page.
xdotool mousemove --window "$results" 434 724 click 1
wait_for 15 "the next-page request" logged "GET /s?q=%BA%CF%BC%AF&p=10"

# Moving MainWindow drags ResultsWindow along, docked 296 right and 3 up.
xdotool windowmove "$main" 571 162
wait_for 5 "ResultsWindow to follow MainWindow down" at "$results" "867,159"
xdotool windowmove "$main" 671 162
wait_for 5 "ResultsWindow to follow MainWindow across" at "$results" "967,159"
# A move both ways at once keeps only its vertical part: the docking puts
# MainWindow back at its old left.
xdotool windowmove "$main" 771 62
wait_for 5 "ResultsWindow to follow the vertical part" at "$results" "967,59"
wait_for 5 "MainWindow back at its left" at "$main" "671,62"

# Esc in MainWindow ends the program with exit code 0.
xdotool windowfocus --sync "$main" key Escape
for _ in $(seq 1 50); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$prog_pid" 2>/dev/null && fail "the program still runs 5 s after Esc in MainWindow"
wait "$prog_pid"
code=$?
forget "$prog_pid"
[ "$code" -eq 0 ] || fail "exit code $code after Esc, want 0"

echo "desktop end-to-end: all checks passed"
