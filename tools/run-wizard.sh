#!/usr/bin/env bash
# The main job: builds QorUpgrade.exe and runs it under Wine against the
# simulated QOR device, both inside a private test world (PC 192.0.2.10,
# device 192.0.2.20). With a display you click through the wizard yourself;
# without one, the scenario whose device matches plays it on a private X
# server and pictures every dialog.
#
#   tools/run-wizard.sh [DEVICE OPTIONS...]
#
# Device options are those of tools/qor_device/qor_device.py (README, "Device
# options"); each one given replaces the default of the same name. The last
# line says how the run ended; the exit status is 0 when the device was
# upgraded (played: when the scenario passed). One run at a time: a second
# one stops at once. Needs root for the test world.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

build=$top/build/windows
run=$top/build/wizard-run
helper=$top/tools/scenario/wizard_run.py
default_options=(--software-version 2.0.12 --restart-delay 20)

if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

# One run at a time: the runs would share the Wine prefix, this folder and
# the test world's addresses. The lock goes with the process that holds it.
mkdir -p "$top/build"
exec 9>>"$top/build/wizard-run.lock"
if ! flock -n 9; then
    echo "run-wizard: another run is in progress (pid $(cat "$top/build/wizard-run.pid" 2>/dev/null || echo '?')):" \
        "let it end, or stop it, then start again" >&2
    exit 3
fi
echo $$ >"$top/build/wizard-run.pid"

merged=$(python3 "$helper" merge "${default_options[@]}" -- "$@") || exit 2
mapfile -t device_options <<<"$merged"

tools/setup/install-deps.sh
. tools/wine/wine_setup.sh
if [ -n "${DISPLAY:-}" ] && ! qor_display_works; then
    echo "run-wizard: DISPLAY is $DISPLAY, but no X server answers there; start it, or unset DISPLAY" \
        "to play the run on a private X server" >&2
    exit 2
fi

if [ -z "${DISPLAY:-}" ] && ! scenario=$(python3 "$helper" match "$top/tests/scenarios" "$@" -- "${device_options[@]}"); then
    echo "run-wizard: no scenario in tests/scenarios plays a device with ${device_options[*]}; start the" \
        "command with a display to click through it yourself" >&2
    exit 2
fi

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" 9>&-

# Each run starts with an empty folder: no images or logs of earlier runs.
rm -rf "$run"
mkdir -p "$run"

if [ -z "${DISPLAY:-}" ]; then
    echo "No display: playing ${scenario#"$top"/} (device: $(sed -n 's/^device //p' "$scenario"));" \
        "screenshots go to $run/screenshots"
    rc=0
    tools/scenario/run_scenario.py --wine --build "$build" --shots "$run/screenshots" --out "$run" "$scenario" 9>&- ||
        rc=$?
    verdict=$(python3 "$helper" outcome "$run/device-state.json" --scenario "$scenario" || true)
    if [ "$rc" = 0 ]; then
        echo "run-wizard: played ${scenario#"$top"/}: passed; $verdict"
    else
        echo "run-wizard: played ${scenario#"$top"/}: FAILED (exit $rc, see above); $verdict"
    fi
    exit "$rc"
fi

qor_take_prefix "$build"
qor_make_prefix 9>&-
echo "Device: 192.0.2.20 ${device_options[*]}; its log: $run/device.log; the program's trace: $run/trace.txt"
# The world sees the same /tmp, so the X server's socket is reachable from inside.
tools/testworld/run_in_world.sh --timeout 1800 -- bash -c '
    python3 tools/qor_device/qor_device.py 192.0.2.20 --log "$1/device.log" --state-file "$1/device-state.json" \
        --save-dir "$1/received" "${@:3}" &
    WINEDEBUG="$WINEDEBUG,+debugstr" wine "$2/src/QorUpgrade.exe" 2>"$1/wine-stderr.txt"
    wineserver -k 2>/dev/null || true' wizard "$run" "$build" "${device_options[@]}" 9>&- || true
python3 tools/scenario/trace_check.py --trace "$run/trace.txt" --wine-log "$run/wine-stderr.txt" /dev/null >/dev/null
rc=0
verdict=$(python3 "$helper" outcome "$run/device-state.json" "${device_options[@]}") || rc=$?
echo "run-wizard: $verdict"
exit "$rc"
