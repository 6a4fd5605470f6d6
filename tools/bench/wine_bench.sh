#!/bin/bash
# Benchmark of the real QorUpgrade.exe under Wine, in the test world: the
# simulated device takes the wizard to its waiting dialog without fetching,
# then curl or atftp fetches the image from the exe, and tftpd-hpa serves the
# same image to the same client in the same world. Prints the medians, their
# ratio and the time per block, and the CPU of the exe, the Wine server and
# the X server per second of the warning, waiting, uploading, updating and
# connecting phases. Figures only; it asserts nothing. Needs root.
#
#   wine_bench.sh [--build DIR] [--runs N]     (default build/windows, 3 runs per client)
#
# About 70 s per run of the exe (the updating wait alone is 30 s).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build/windows
runs=3
inside=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --inside) inside=1; shift ;;
    *) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
exe=$build/src/QorUpgrade.exe
driver=$build/tools/uidriver/uidriver.exe
for f in "$exe" "$driver"; do
    [ -f "$f" ] || { echo "wine_bench: $f is missing (build the windows preset first)" >&2; exit 2; }
done
if [ "$inside" = 0 ]; then
    exec "$top/tools/testworld/run_in_world.sh" --timeout $((runs * 2 * 120 + 600)) -- "$0" --inside --build "$build" \
        --runs "$runs"
fi

# --- inside the world ---
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pc=${QOR_PC_ADDRS%% *}
device=${QOR_DEVICE_ADDRS%% *}
out=$(mktemp -d /tmp/qor-wine-bench.XXXXXX)
pids=()
cleanup() {
    timeout 20 wineserver -k 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$out"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The same display and prefix as the Wine scenarios (tools/scenario/run_scenario.sh).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
xserver=$!
pids+=("$xserver")
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$out/display")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine_bench: making the Wine prefix $WINEPREFIX (once)"
    timeout 180 wineboot -i >/dev/null 2>&1 || true
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    timeout 60 wineserver -w || true
fi

# CPU ticks (1/100 s) of a process so far; 0 when it is gone.
ticks() { [ -n "$1" ] && [ -r "/proc/$1/stat" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
exe_pid() { pgrep -x QorUpgrade.exe | head -1 || true; }
# The UI driver looks for new windows every millisecond, which loads the Wine
# server: it is stopped while the figures are taken.
driver_pid() { pgrep -x uidriver.exe | head -1 || true; }
hold_driver() { kill -STOP "$(driver_pid)" 2>/dev/null || true; }
release_driver() { kill -CONT "$(driver_pid)" 2>/dev/null || true; }
server_pid() { pgrep '^wineserver' | head -1 || true; }

# measure PHASE SECONDS: the CPU of the exe, the Wine server and the X server
# over the next SECONDS, in percent of one core.
measure() {
    local phase=$1 seconds=$2 e s
    e=$(exe_pid)
    s=$(server_pid)
    local e0 s0 x0 e1 s1 x1
    e0=$(ticks "$e") s0=$(ticks "$s") x0=$(ticks "$xserver")
    sleep "$seconds"
    e1=$(ticks "$e") s1=$(ticks "$s") x1=$(ticks "$xserver")
    awk -v p="$phase" -v t="$seconds" -v e=$((e1 - e0)) -v s=$((s1 - s0)) -v x=$((x1 - x0)) 'BEGIN {
        printf "%-10s exe %5.1f %%  wineserver %5.1f %%  X %5.1f %%  together %5.1f %%  (%g s)\n",
               p, e / t, s / t, x / t, (e + s + x) / t, t }' >>"$out/cpu.txt"
}

# Where the re-query goes (the sender of the read request, the PC's own
# address here): a page that comes after 6 s, so that the connecting dialog
# can be measured.
python3 - "$pc" "$device" >"$out/slow-page.log" 2>&1 <<'EOF' &
import socket, sys, time, urllib.request
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind((sys.argv[1], 80))
server.listen(5)
while True:
    connection, _ = server.accept()
    connection.recv(65536)
    time.sleep(6)
    page = urllib.request.urlopen("http://%s/admin/advanced" % sys.argv[2]).read()
    connection.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + page)
    connection.close()
EOF
pids+=($!)

cat >"$out/bench.scn" <<'EOF'
scenario wine-bench
timeout 120000
dialog 139 "QOR-7101 Firmware Upgrade"
wait 9000
press ok
dialog 101 "QOR-7101 Firmware Upgrade"
type 1000 "192.0.2.20"
press ok
dialog 103 "Confirm Upgrade to Ver. 2.0.13(SEg)"
press ok
dialog 114 "Waiting For Firmware Download Request From QOR"
wait 65000
messagebox "QOR Firwmare Upgrade Error" "Upgrade Failed: Version not matching"
answer ok
exit 0
EOF

fetch() { # CLIENT HOST PORT NAME OUTPUT: prints the seconds taken
    local start end
    start=$(date +%s.%N)
    if [ "$1" = curl ]; then
        curl -s --max-time 30 -o "$5" "tftp://$2:$3/$4"
    else
        timeout 30 atftp -g -r "$4" -l "$5" "$2" "$3"
    fi
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run of the exe: fetched by CLIENT; its seconds go to exe-CLIENT.txt.
run_exe() {
    local client=$1 run=$2 state=$out/device-$run.json
    python3 "$top/tools/qor_device/qor_device.py" "$device" --software-version 2.0.12 --never-fetch \
        --log "$out/device-$run.log" --state-file "$state" &
    local device_pid=$!
    for _ in $(seq 100); do [ -f "$state" ] && break; sleep 0.1; done
    (cd "$out" && timeout 300 wine "$driver" "$(winpath "$out/bench.scn")" "$(winpath "$exe")" \
        >"$out/driver-$run.log" 2>&1) &
    local driver_pid=$!
    local measured=0
    [ "$run" != 1 ] || measured=1
    for _ in $(seq 300); do [ -n "$(exe_pid)" ] && break; sleep 0.1; done
    if [ "$measured" = 1 ]; then
        sleep 4
        hold_driver
        measure warning 4
        release_driver
    fi
    local name=
    for _ in $(seq 600); do
        name=$(python3 -c 'import json,sys; t=json.load(open(sys.argv[1])).get("triggers",[]); print(t[0]["name"] if t else "")' \
            "$state" 2>/dev/null || true)
        [ -z "$name" ] || break
        sleep 0.1
    done
    [ -n "$name" ] || { echo "wine_bench: no trigger reached the device" >&2; cat "$out/driver-$run.log" >&2; exit 1; }
    hold_driver
    sleep 1
    [ "$measured" = 0 ] || measure waiting 6
    local e0 s0 x0 before
    e0=$(ticks "$(exe_pid)") s0=$(ticks "$(server_pid)") x0=$(ticks "$xserver")
    fetch "$client" "$pc" 69 "$name" "$out/image-$run.bin" >>"$out/exe-$client.txt"
    if [ "$measured" = 1 ]; then
        local t
        t=$(tail -1 "$out/exe-$client.txt")
        awk -v p=uploading -v t="$t" -v e=$(($(ticks "$(exe_pid)") - e0)) -v s=$(($(ticks "$(server_pid)") - s0)) \
            -v x=$(($(ticks "$xserver") - x0)) 'BEGIN {
            printf "%-10s exe %5.1f %%  wineserver %5.1f %%  X %5.1f %%  together %5.1f %%  (%g s, ticks of 10 ms)\n",
                   p, e / t, s / t, x / t, (e + s + x) / t, t }' >>"$out/cpu.txt"
        sleep 3
        measure updating 20
        sleep 8.5  # to the end of the 29,984 ms wait and into the re-query
        measure connecting 4
    fi
    release_driver
    wait "$driver_pid" || echo "wine_bench: the scenario did not end as expected (see below)" >&2
    grep -v '^ok' "$out/driver-$run.log" | tail -3 >&2 || true
    kill "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
    timeout 20 wineserver -k 2>/dev/null || true
}

run=0
for client in curl atftp; do
    for _ in $(seq "$runs"); do
        run=$((run + 1))
        run_exe "$client" "$run"
    done
done

# tftpd-hpa serves the image the exe served, to the same clients.
mkdir -p "$out/tftpd"
cp "$out/image-1.bin" "$out/tftpd/image.bin"
in.tftpd -L -u nobody -s "$out/tftpd" -a "$pc:6969" &
pids+=($!)
sleep 0.5
for client in curl atftp; do
    for _ in $(seq "$runs"); do
        fetch "$client" "$pc" 6969 "/image.bin" "$out/tftpd-out.bin" >>"$out/tftpd-$client.txt"
    done
done

size=$(stat -c %s "$out/image-1.bin")
blocks=$((size / 512 + 1))
echo "Image of $size bytes ($blocks blocks), $runs runs per client, in the test world"
for client in curl atftp; do
    ours=$(median <"$out/exe-$client.txt")
    theirs=$(median <"$out/tftpd-$client.txt")
    awk -v c="$client" -v o="$ours" -v t="$theirs" -v b="$blocks" 'BEGIN {
        printf "%-6s exe under Wine median %.3f s (%.0f us a block), tftpd-hpa median %.3f s (%.0f us a block), ratio %.2f (goal <= 2)\n",
               c, o, o / b * 1e6, t, t / b * 1e6, o / t }'
    echo "       exe runs: $(tr '\n' ' ' <"$out/exe-$client.txt")  tftpd-hpa runs: $(tr '\n' ' ' <"$out/tftpd-$client.txt")"
done
for run in $(seq "$run"); do
    cmp -s "$out/image-1.bin" "$out/image-$run.bin" || echo "wine_bench: run $run fetched another image" >&2
done
echo "CPU per second of one core (first run):"
cat "$out/cpu.txt"
