#!/usr/bin/env bash
# The main job: builds QorUpgrade.exe and runs it under Wine against the
# simulated QOR device, both inside a private test world (PC 192.0.2.10,
# device 192.0.2.20). With a display you click through the wizard yourself;
# without one the default scenario plays it and pictures every dialog.
#
#   tools/run-wizard.sh [DEVICE OPTIONS...]
#
# Device options go to tools/qor_device/qor_device.py, for example
# --password secret or --software-version 2.0.11 (Transition first).
# Needs root for the test world.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

tools/setup/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

build=$top/build/windows
run=$top/build/wizard-run
mkdir -p "$run"

if [ -z "${DISPLAY:-}" ]; then
    echo "No display: playing tests/scenarios/straight_to_target.scn; screenshots go to $run/screenshots"
    exec tools/scenario/run_scenario.sh --wine --build "$build" --shots "$run/screenshots" --out "$run" \
        tests/scenarios/straight_to_target.scn
fi

# The world sees the same /tmp, so the X server's socket is reachable from inside.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
device_options=("$@")
[ ${#device_options[@]} -gt 0 ] || device_options=(--software-version 2.0.12 --restart-delay 20)
echo "Device: 192.0.2.20 ${device_options[*]}; its log: $run/device.log"
exec tools/testworld/run_in_world.sh --timeout 1800 -- bash -c '
    python3 tools/qor_device/qor_device.py 192.0.2.20 --log "$1/device.log" --state-file "$1/device.json" \
        --save-dir "$1" "${@:3}" &
    wine "$2/src/QorUpgrade.exe"
    status=$?
    wineserver -k 2>/dev/null || true
    exit $status' wizard "$run" "$build" "${device_options[@]}"
