#!/usr/bin/env bash
# Runs one end-to-end scenario: starts the server the script asks for on a free
# loopback port, runs netdisk-scenario against it and compares what it prints
# with the expected output.
#
# usage: run_scenario.sh SCENARIO_TOOL DEMO_SERVICE FIXTURE_SERVER PAGES_DIR SCRIPT EXPECTED
#
# Directives in the script's comment lines:
#   # server: demo      the demo service with its bundled corpus (the default)
#   # server: fixture   the fixture server on PAGES_DIR
#   # server: closed    nothing listens on the port
#   # delay-ms: N       the fixture server's delay for "slow" pages (default 1000)
# In the output, 127.0.0.1:PORT becomes HOST. A line of the expected file that
# begins with "~ " is an extended regular expression the whole output line must
# match (for values that depend on timing, such as a bar's position mid-fetch).
set -u

tool=$1 demo=$2 fixture=$3 pages=$4 script=$5 expected=$6
work=$(mktemp -d)
server_pid=
cleanup() {
    if [[ -n $server_pid ]]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

directive() {
    sed -n "s/^# $1: *\\([^ ]*\\).*/\\1/p" "$script" | head -n 1
}
kind=$(directive server)
kind=${kind:-demo}
delay=$(directive delay-ms)
delay=${delay:-1000}

# Starts a server in the background and reads its port from its first line.
start_server() {
    "$@" >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out" | head -n 1 | cut -d: -f2)
        [[ -n $port ]] && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "the server did not start:" >&2
    cat "$work/server.err" >&2
    exit 1
}

port=
case $kind in
    demo) start_server "$demo" --port 0 ;;
    fixture) start_server "$fixture" --port 0 --dir "$pages" --delay-ms "$delay" ;;
    closed)
        # tcpmux: nothing listens there, and no test server is ever given it,
        # unlike a port that was just free and may be handed out again.
        port=1
        ;;
    *)
        echo "unknown server kind '$kind'" >&2
        exit 1
        ;;
esac

timeout 60 "$tool" --host "127.0.0.1:$port" "$script" >"$work/raw.out" 2>"$work/tool.err"
status=$?
sed "s/127\\.0\\.0\\.1:$port/HOST/g" "$work/raw.out" >"$work/actual.out"

fail() {
    echo "FAIL: $1" >&2
    echo "--- expected $expected / +++ actual" >&2
    diff -u "$expected" "$work/actual.out" >&2
    if [[ -s $work/tool.err ]]; then
        echo "--- standard error of the tool:" >&2
        cat "$work/tool.err" >&2
    fi
    exit 1
}

mapfile -t want <"$expected"
mapfile -t got <"$work/actual.out"
for ((i = 0; i < ${#want[@]} || i < ${#got[@]}; i++)); do
    w=${want[i]-<end of output>}
    g=${got[i]-<end of output>}
    if [[ $w == "~ "* ]]; then
        re=${w#"~ "}
        [[ $g =~ ^($re)$ ]] || fail "line $((i + 1)) does not match /$re/: $g"
    elif [[ $w != "$g" ]]; then
        fail "line $((i + 1)) differs"
    fi
done

# The tool's own status: 2 for a script error, else the program's exit code.
last=${got[${#got[@]} - 1]-}
if [[ $last == error:* ]]; then
    want_status=2
else
    want_status=$(sed -n 's/^exit: \([0-9-]*\) .*/\1/p' <<<"$last")
fi
[[ $status == "${want_status:-none}" ]] || fail "exit status $status, the output says ${want_status:-nothing}"
exit 0
