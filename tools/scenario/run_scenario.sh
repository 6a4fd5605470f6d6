#!/bin/bash
# Plays one scenario on one back end: the native runner (the program on the
# headless dialog manager), or the real QorUpgrade.exe under Wine with the UI
# driver beside it in the same prefix. A scenario with a "world" or "device"
# line runs inside the test world; with "device", the simulated device plays
# there and what it saw is checked after the run.
#
#   run_scenario.sh --native|--wine [--build DIR] [--shots DIR] [--out DIR]
#                   [--timeout SECONDS] SCENARIO
#
# --build: the native or Windows build (default build/native, build/windows);
# a Windows build keeps its Wine prefixes in wineprefix/, wineprefix-1/, ...,
# one for each run going at once, each made once.
# --shots: where the PNG screenshots go (Wine only; default: none taken).
# --out: the run's files: device log, state, received images (default
# <build>/scenario-runs/<scenario>). Wine without DISPLAY: a private Xvfb.
# QOR_WINE_VERSION (win7, win10): the Windows version the prefix reports,
# checked before the run (default: Wine's own, Windows 7).
# The program's trace goes to <out>/trace.txt; a file SCENARIO.trace beside
# the scenario lists what it must hold (tools/scenario/trace_check.py).
# Exit status 0: the scenario passed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
backend=
build=
shots=
out=
time_limit=300
in_world=0

usage() {
    sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --native) backend=native; shift ;;
    --wine) backend=wine; shift ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --shots) mkdir -p "$2"; shots=$(cd "$2" && pwd); shift 2 ;;
    --out) mkdir -p "$2"; out=$(cd "$2" && pwd); shift 2 ;;
    --timeout) time_limit="$2"; shift 2 ;;
    --in-world) in_world=1; shift ;;
    -*) echo "run_scenario: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
[ $# -eq 1 ] && [ -n "$backend" ] || usage
scenario_file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$scenario_file" ] || { echo "run_scenario: $1 is missing" >&2; exit 2; }
name=$(basename "$scenario_file" .scn)
[ -n "$build" ] || build=$top/build/$backend
[ "$backend" = native ] || build=${build%/}
# "build handset": the build whose Target image carries the handset tag.
variant=
grep -Eq '^[[:space:]]*build[[:space:]]+handset' "$scenario_file" && variant=_handset
if [ "$backend" = native ]; then
    program=$build/tools/scenario/native_runner$variant
    resources=$build/resources/qor_resources$variant/qor_resources$variant.res
    needed=("$program" "$resources")
else
    exe=$build/src/QorUpgrade.exe
    [ -z "$variant" ] || exe=$build/src/QorUpgradeHandset.exe
    driver=$build/tools/uidriver/uidriver.exe
    needed=("$exe" "$driver")
    . "$top/tools/wine/wine_setup.sh"
fi
for f in "${needed[@]}"; do
    [ -f "$f" ] || { echo "run_scenario: $f is missing (build first)" >&2; exit 2; }
done
[ -n "$out" ] || { out=$build/scenario-runs/$name; mkdir -p "$out"; }

# The device line holds the simulated device's own options, as shell words.
device_line=$(sed -n 's/^[[:space:]]*device\([[:space:]].*\)\{0,1\}$/\1/p' "$scenario_file" | head -1)
device_line=${device_line%%#*}
needs_device=0
needs_world=0
grep -Eq '^[[:space:]]*device([[:space:]]|$)' "$scenario_file" && needs_device=1 && needs_world=1
grep -Eq '^[[:space:]]*world([[:space:]]|#|$)' "$scenario_file" && needs_world=1
occupied_ports=$(sed -n 's/^[[:space:]]*occupy-udp[[:space:]]\{1,\}\([0-9]\{1,\}\).*/\1/p' "$scenario_file")
[ -z "$occupied_ports" ] || needs_world=1

if [ "$needs_world" = 1 ] && [ "$in_world" = 0 ]; then
    args=("--$backend" --build "$build" --out "$out" --timeout "$time_limit" --in-world)
    [ -z "$shots" ] || args+=(--shots "$shots")
    exec "$top/tools/testworld/run_in_world.sh" --timeout "$((time_limit + 60))" -- "$0" "${args[@]}" "$scenario_file"
fi

device_pid=
holder_pid=
cleanup() {
    if [ -n "$holder_pid" ]; then
        kill "$holder_pid" 2>/dev/null || true
        wait "$holder_pid" 2>/dev/null || true
    fi
    if [ -n "$device_pid" ]; then
        kill "$device_pid" 2>/dev/null || true
        wait "$device_pid" 2>/dev/null || true
    fi
    if [ "$backend" = wine ]; then
        # Only the prefix this run took (none before the run began).
        case ${WINEPREFIX:-} in "$build"/wineprefix*) timeout 20 wineserver -k 2>/dev/null || true ;; esac
        qor_stop_display
    fi
}
trap cleanup EXIT

# Wine paths of Linux files: drive Z: is the root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

start_device() {
    rm -rf "$out/received" "$out/device-state.json" "$out/device.log"
    local address=${QOR_DEVICE_ADDRS%% *}
    eval "set -- $device_line"
    # A native run on a fast clock (QOR_CLOCK_RATE, see native_runner.cpp):
    # the device restarts at the same pace.
    [ "$backend" != native ] || set -- --clock-rate "${QOR_CLOCK_RATE:-1}" "$@"
    python3 "$top/tools/qor_device/qor_device.py" "$address" --log "$out/device.log" \
        --state-file "$out/device-state.json" --save-dir "$out/received" "$@" &
    device_pid=$!
    for _ in $(seq 100); do
        [ -f "$out/device-state.json" ] && return 0
        kill -0 "$device_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "run_scenario: the simulated device did not start; its log:" >&2
    cat "$out/device.log" >&2 || true
    exit 1
}

# Another program holding UDP ports on the PC's address, as a TFTP server would.
occupy_ports() {
    local address=${QOR_PC_ADDRS%% *}
    python3 -c '
import socket, sys, time
held = []
for port in sys.argv[2:]:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((sys.argv[1], int(port)))
    held.append(s)
print("holding", " ".join(sys.argv[2:]), flush=True)
time.sleep(3600)
' "$address" $occupied_ports >"$out/holder.log" 2>&1 &
    holder_pid=$!
    for _ in $(seq 50); do
        grep -q holding "$out/holder.log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "run_scenario: cannot hold UDP ports $occupied_ports" >&2
    cat "$out/holder.log" >&2
    exit 2
}

play_native() {
    (cd "$out" && timeout --kill-after=10 "$time_limit" "$program" --device-checks "$out/device-checks.jsonl" \
        --trace "$out/trace.txt" "$scenario_file")
}

play_wine() {
    [ -n "${DISPLAY:-}" ] || qor_start_display "$out" || exit 2
    qor_take_prefix "$build"
    qor_make_prefix || exit 2
    [ -z "${QOR_WINE_VERSION:-}" ] || qor_check_windows_version || exit 2
    local driver_args=(--device-checks "$(winpath "$out/device-checks.jsonl")")
    rm -rf "$out/shots"
    if [ -n "$shots" ]; then
        mkdir -p "$out/shots"
        driver_args+=(--shots "$(winpath "$out/shots")")
    fi
    local rc=0
    # Wine writes the program's debug output to standard error; the trace
    # check takes it from there.
    (cd "$out" && WINEDEBUG="$WINEDEBUG,+debugstr" timeout --kill-after=10 "$time_limit" \
        wine "$driver" "${driver_args[@]}" "$(winpath "$scenario_file")" "$(winpath "$exe")") 2>"$out/wine-stderr.txt" || rc=$?
    for bmp in "$out"/shots/*.bmp; do
        [ -e "$bmp" ] || continue
        convert "$bmp" "$shots/$(basename "$bmp" .bmp).png"
    done
    return "$rc"
}

# The trace as a file, decoded from Wine's standard error on that back end;
# checked when the scenario has an expected trace beside it.
check_trace() {
    local expected=${scenario_file%.scn}.trace wine_log=()
    [ "$backend" = native ] || wine_log=(--wine-log "$out/wine-stderr.txt")
    if [ -f "$expected" ]; then
        python3 "$here/trace_check.py" --trace "$out/trace.txt" "${wine_log[@]}" "$expected"
    elif [ "$backend" = wine ]; then
        python3 "$here/trace_check.py" --trace "$out/trace.txt" "${wine_log[@]}" /dev/null >/dev/null
    fi
}

[ -z "$occupied_ports" ] || occupy_ports
[ "$needs_device" = 0 ] || start_device
rm -f "$out/trace.txt"
rc=0
"play_$backend" || rc=$?
check_trace || rc=1
if [ "$rc" = 0 ] && [ "$needs_device" = 1 ]; then
    if [ "$backend" = native ]; then
        embedded=(--res "$resources")
    else
        embedded=(--exe "$exe")
    fi
    python3 "$here/device_checks.py" --state "$out/device-state.json" "${embedded[@]}" \
        "$out/device-checks.jsonl" || rc=$?
fi
if [ "$rc" != 0 ] && [ -f "$out/device.log" ]; then
    echo "--- device log ($out/device.log), last lines:"
    tail -n 40 "$out/device.log"
fi
exit "$rc"
