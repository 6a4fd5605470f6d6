#!/bin/bash
# Benchmark of the real QorUpgrade.exe under Wine, in the test world: the
# simulated device takes the wizard to its waiting dialog without fetching,
# then curl or atftp fetches the image from the exe, and tftpd-hpa serves the
# same image to the same client in the same world. Prints the medians, their
# ratio and the time per block, and the CPU of the exe, the Wine server and
# the X server per second of the warning, waiting, uploading, updating and
# connecting phases of every run, with their medians. Figures only; it asserts
# nothing. Needs root.
#
#   wine_bench.sh [--build DIR] [--runs N] [--exe PATH]... [--upload-only] [--requests] [--hold]
#
# Defaults: build/windows, its exe, 3 runs per client. Several --exe (each
# named QorUpgrade.exe) take turns run by run, to compare builds under the
# same load. --upload-only ends each run after the fetches and measures no CPU.
# --requests is --upload-only with the Wine server's trace on: it also counts
# the requests the transferring thread made to the Wine server, per block
# (the times it prints are then those of a traced run). --hold instead lets the
# simulated device fetch slowly (an ACK every 10 ms) and, during the upload,
# drags the dialog by its caption for 8 s, then in another run keeps its
# system menu (Alt+Space) open for 8 s; it prints the longest gap between two
# DATA packets the device saw and whether the run reached the success dialog.
# About 70 s per run of the exe (the updating wait alone is 30 s), 10 s with
# --upload-only, 40 s with --hold.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build/windows
runs=3
inside=0
upload_only=0
requests=0
hold=0
exes=()
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --exe) exes+=("$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"); shift 2 ;;
    --upload-only) upload_only=1; shift ;;
    --requests) upload_only=1 requests=1; shift ;;
    --hold) hold=1; shift ;;
    --inside) inside=1; shift ;;
    *) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
[ ${#exes[@]} -gt 0 ] || exes=("$build/src/QorUpgrade.exe")
driver=$build/tools/uidriver/uidriver.exe
for f in "${exes[@]}" "$driver" "$build/tools/bench/floor_server.exe"; do
    [ -f "$f" ] || { echo "wine_bench: $f is missing (build the windows preset first)" >&2; exit 2; }
done
for f in "${exes[@]}"; do
    # The phases are told apart by the process's name.
    [ "$(basename "$f")" = QorUpgrade.exe ] || { echo "wine_bench: $f is not named QorUpgrade.exe" >&2; exit 2; }
done
if [ "$inside" = 0 ]; then
    args=(--inside --build "$build" --runs "$runs")
    [ "$upload_only" = 0 ] || args+=(--upload-only)
    [ "$requests" = 0 ] || args+=(--requests)
    [ "$hold" = 0 ] || args+=(--hold)
    for f in "${exes[@]}"; do args+=(--exe "$f"); done
    exec "$top/tools/testworld/run_in_world.sh" --timeout $((runs * 2 * ${#exes[@]} * 120 + 600)) -- "$0" "${args[@]}"
fi

# --- inside the world ---
# The server's trace goes with the program's to the driver's log.
[ "$requests" = 0 ] || export WINEDEBUG=+server,+debugstr
# The prefix and the display of every Wine run of the project; the prefix is
# one of the build's that no other run is using.
. "$top/tools/wine/wine_setup.sh"
qor_take_prefix "$build"
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

qor_start_display "$out" || exit 2
xserver=$qor_display_pid
pids+=("$xserver")
qor_make_prefix || exit 2

# CPU ticks (1/100 s) of a process so far; 0 when it is gone.
ticks() { [ -n "$1" ] && [ -r "/proc/$1/stat" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
exe_pid() { pgrep -x QorUpgrade.exe | head -1 || true; }
# The UI driver looks for new windows every millisecond, which loads the Wine
# server: it is stopped while the figures are taken.
driver_pid() { pgrep -x uidriver.exe | head -1 || true; }
hold_driver() { kill -STOP "$(driver_pid)" 2>/dev/null || true; }
release_driver() { kill -CONT "$(driver_pid)" 2>/dev/null || true; }
server_pid() { pgrep '^wineserver' | head -1 || true; }

# record RUN PHASE SECONDS EXE SERVER X: the ticks the three spent in SECONDS,
# as percent of one core; each phase's "together" also goes to
# cpu-PHASE-EXE.txt (EXE: the number of the --exe).
record() {
    [ "$upload_only" = 0 ] || return 0
    awk -v r="$1" -v k="$exe_number" -v p="$2" -v t="$3" -v e="$4" -v s="$5" -v x="$6" 'BEGIN {
        printf "run %-2s exe %s %-10s exe %5.1f %%  wineserver %5.1f %%  X %5.1f %%  together %5.1f %%  (%g s)\n",
               r, k, p, e / t, s / t, x / t, (e + s + x) / t, t }' >>"$out/cpu.txt"
    awk -v t="$3" -v n=$(($4 + $5 + $6)) 'BEGIN { printf "%.2f\n", n / t }' >>"$out/cpu-$2-$exe_number.txt"
}

# measure RUN PHASE SECONDS: the CPU of the exe, the Wine server and the X
# server over the next SECONDS.
measure() {
    [ "$upload_only" = 0 ] || return 0
    local e s e0 s0 x0
    e=$(exe_pid)
    s=$(server_pid)
    e0=$(ticks "$e") s0=$(ticks "$s") x0=$(ticks "$xserver")
    sleep "$3"
    record "$1" "$2" "$3" $(($(ticks "$e") - e0)) $(($(ticks "$s") - s0)) $(($(ticks "$xserver") - x0))
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
# The same without the pause at the warning, for --upload-only.
grep -v '^wait 9000$' "$out/bench.scn" >"$out/upload.scn"
scenario=$out/bench.scn
[ "$upload_only" = 0 ] || scenario=$out/upload.scn

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

# One run of exe number `exe_number`: fetched by CLIENT; its seconds go to
# exe-NUMBER-CLIENT.txt.
run_exe() {
    local client=$1 run=$2 state=$out/device-$run.json exe=${exes[$((exe_number - 1))]}
    python3 "$top/tools/qor_device/qor_device.py" "$device" --software-version 2.0.12 --never-fetch \
        --log "$out/device-$run.log" --state-file "$state" &
    local device_pid=$!
    for _ in $(seq 100); do [ -f "$state" ] && break; sleep 0.1; done
    (cd "$out" && timeout 300 wine "$driver" "$(winpath "$scenario")" "$(winpath "$exe")" \
        >"$out/driver-$run.log" 2>&1) &
    local driver_pid=$!
    for _ in $(seq 300); do [ -n "$(exe_pid)" ] && break; sleep 0.1; done
    if [ "$upload_only" = 0 ]; then
        sleep 4
        hold_driver
        measure "$run" warning 4
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
    # Held only once it has seen the waiting dialog, or it would still look
    # for it when the scenario's message box comes.
    for _ in $(seq 100); do grep -q 'ok  line [0-9]*: dialog 114' "$out/driver-$run.log" && break; sleep 0.1; done
    hold_driver
    sleep 1
    measure "$run" waiting 6
    local e0 s0 x0
    e0=$(ticks "$(exe_pid)") s0=$(ticks "$(server_pid)") x0=$(ticks "$xserver")
    fetch "$client" "$pc" 69 "$name" "$out/image-$run.bin" >>"$out/exe-$exe_number-$client.txt"
    # Over a fraction of a second the ticks of 10 ms are coarse.
    record "$run" uploading "$(tail -1 "$out/exe-$exe_number-$client.txt")" $(($(ticks "$(exe_pid)") - e0)) \
        $(($(ticks "$(server_pid)") - s0)) $(($(ticks "$xserver") - x0))
    fetch_from_tftpd "$client"
    fetch_from_floor "$client"
    if [ "$upload_only" = 1 ]; then
        release_driver
        timeout 20 wineserver -k 2>/dev/null || true
        wait "$driver_pid" 2>/dev/null || true
    else
        sleep 3
        measure "$run" updating 20
        sleep 8.5  # to the end of the 29,984 ms wait and into the re-query
        measure "$run" connecting 4
        release_driver
        wait "$driver_pid" || echo "wine_bench: the scenario did not end as expected (see below)" >&2
        grep -v '^ok' "$out/driver-$run.log" | tail -3 >&2 || true
    fi
    kill "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
    timeout 20 wineserver -k 2>/dev/null || true
}

# tftpd-hpa serves the image the exe served, to the same client, right after
# each fetch from the exe (while the exe waits out its updating phase), so
# that both see the same load on the machine.
fetch_from_tftpd() {
    if [ ! -d "$out/tftpd" ]; then
        mkdir -p "$out/tftpd"
        cp "$out/image-1.bin" "$out/tftpd/image.bin"
        in.tftpd -L -u nobody -s "$out/tftpd" -a "$pc:6969" &
        pids+=($!)
        sleep 0.5
    fi
    fetch "$1" "$pc" 6969 "/image.bin" "$out/tftpd-out.bin" >>"$out/tftpd-$1.txt"
    cmp -s "$out/image-1.bin" "$out/tftpd-out.bin" || echo "wine_bench: tftpd-hpa sent another image" >&2
}

# --- --hold: a window loop of the system during the upload ---
# The bench's way to the confirm dialog, then the upload and the success.
{
    sed '/^dialog 114/,$d; /^wait 9000$/d' "$out/bench.scn"
    printf '%s\n' 'dialog 110' 'dialog 111 "QOR@192.0.2.20 Upgrade Successful!"' 'press ok' 'exit 0'
} >"$out/hold.scn"

# The X window of the upload dialog, and a point on its caption.
upload_window() { xdotool search --name '^Uploading ' 2>/dev/null | head -1; }
caption_point() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
                             /Width:/ { w = $NF } END { print x + int(w / 3), y + 8 }'
}
# hold KIND: 8 s of a caption drag (the button held, the pointer moving) or of
# an open system menu, then let go.
hold() {
    local window point
    window=$(upload_window)
    [ -n "$window" ] || { echo "wine_bench: no upload dialog on the display" >&2; return 1; }
    point=$(caption_point "$window")
    xdotool mousemove ${point% *} ${point#* }
    if [ "$1" = drag ]; then
        xdotool mousedown 1
        for step in $(seq 40); do
            xdotool mousemove_relative -- $((step % 2 * 4 - 2)) 1
            sleep 0.2
        done
        xdotool mouseup 1
    else
        xdotool key alt+space
        sleep 8
        # A click beside the menu, on the dialog's text, closes it and ends
        # the menu's loop (an Esc would only close the popup).
        xdotool mousemove_relative 100 50 click 1
    fi
}

hold_run() { # KIND RUN
    local state=$out/device-$2.json exe=${exes[$((exe_number - 1))]}
    python3 "$top/tools/qor_device/qor_device.py" "$device" --software-version 2.0.12 --ack-delay 0.01 --tftp-timeout 5 --tftp-retries 3 \
        --restart-delay 5 --log "$out/device-$2.log" --state-file "$state" &
    local device_pid=$!
    (cd "$out" && timeout 300 wine "$driver" "$(winpath "$out/hold.scn")" "$(winpath "$exe")" \
        >"$out/driver-$2.log" 2>&1) &
    local driver_pid=$! verdict=passed
    for _ in $(seq 600); do grep -q 'tftp: DATA 100 ' "$out/device-$2.log" 2>/dev/null && break; sleep 0.1; done
    hold "$1" || verdict=failed
    wait "$driver_pid" || verdict="failed ($(grep -v '^ok' "$out/driver-$2.log" | tail -1))"
    kill "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
    timeout 20 wineserver -k 2>/dev/null || true
    python3 -c 'import json, sys
t = json.load(open(sys.argv[1]))["transfers"][0]
print("exe %s %-4s longest gap between DATA packets %.3f s, %d blocks again, run %s" % (
    sys.argv[2], sys.argv[3], t["longest_data_gap"], t["duplicate_data"], sys.argv[4]))' \
        "$state" "$exe_number" "$1" "$verdict"
}

if [ "$hold" = 1 ]; then
    run=0
    for exe_number in $(seq ${#exes[@]}); do
        echo "exe $exe_number: ${exes[$((exe_number - 1))]}"
        for kind in drag menu; do
            run=$((run + 1))
            hold_run "$kind" "$run"
        done
    done
    exit 0
fi

# The floor: a lock-step Winsock server under the same Wine serves the same
# image to the same client right after tftpd-hpa, so that exe/floor is the
# loop's own cost.
# It is started for each fetch, as each run ends the prefix's programs.
fetch_from_floor() {
    (cd "$out" && exec wine "$build/tools/bench/floor_server.exe" "$pc" 6970 "$(winpath "$out/image-1.bin")" \
        >>"$out/floor.log" 2>&1) &
    local floor_pid=$!
    for _ in $(seq 200); do ss -ulnH "sport = :6970" | grep -q . && break; sleep 0.1; done
    fetch "$1" "$pc" 6970 "/image.bin" "$out/floor-out.bin" >>"$out/floor-$1.txt"
    cmp -s "$out/image-1.bin" "$out/floor-out.bin" || echo "wine_bench: the floor server sent another image" >&2
    kill "$floor_pid" 2>/dev/null || true
    for _ in $(seq 100); do ss -ulnH "sport = :6970" | grep -q . || break; sleep 0.1; done
}

run=0
for client in curl atftp; do
    for _ in $(seq "$runs"); do
        for exe_number in $(seq ${#exes[@]}); do
            run=$((run + 1))
            run_exe "$client" "$run"
        done
    done
done

size=$(stat -c %s "$out/image-1.bin")
blocks=$((size / 512 + 1))
echo "Image of $size bytes ($blocks blocks), $runs runs per client and exe, in the test world"
for exe_number in $(seq ${#exes[@]}); do
    echo "exe $exe_number: ${exes[$((exe_number - 1))]}"
    for client in curl atftp; do
        ours=$(median <"$out/exe-$exe_number-$client.txt")
        theirs=$(median <"$out/tftpd-$client.txt")
        floor=$(median <"$out/floor-$client.txt")
        awk -v c="$client" -v o="$ours" -v t="$theirs" -v f="$floor" -v b="$blocks" 'BEGIN {
            printf "  %-6s exe under Wine median %.3f s (%.0f us a block), tftpd-hpa %.3f s, floor under Wine %.3f s: exe/tftpd-hpa %.2f, exe/floor %.2f\n",
                   c, o, o / b * 1e6, t, f, o / t, o / f }'
        echo "         exe runs: $(tr '\n' ' ' <"$out/exe-$exe_number-$client.txt")"
    done
done
for client in curl atftp; do
    echo "tftpd-hpa runs, $client: $(tr '\n' ' ' <"$out/tftpd-$client.txt")"
    echo "floor runs, $client: $(tr '\n' ' ' <"$out/floor-$client.txt")"
done
for run in $(seq "$run"); do
    cmp -s "$out/image-1.bin" "$out/image-$run.bin" || echo "wine_bench: run $run fetched another image" >&2
done
# requests_per_block LOG: the requests of the thread that sends the blocks
# (the one that traces the first block), until its last block is
# acknowledged, by name, per block.
requests_per_block() {
    awk -v blocks="$blocks" '
        !thread && /debugstr:OutputDebugStringA "Send block/ { thread = substr($0, 1, index($0, ":") - 1) }
        /All blocks ack.d/ { done = 1 }
        thread && !done && index($0, thread ": ") == 1 && $2 ~ /^[a-z_]+\($/ {
            name = $2; sub(/\($/, "", name); count[name]++; total++ }
        END {
            printf "  %.2f requests a block in all\n", total / blocks
            for (name in count) if (count[name] / blocks >= 0.01) printf "  %6.2f %s\n", count[name] / blocks, name
        }' "$1" | sort -k1,1gr
}
if [ "$requests" = 1 ]; then
    for run in $(seq "$run"); do
        echo "Wine server requests of the transferring thread, run $run:"
        requests_per_block "$out/driver-$run.log"
    done
fi
if [ "$upload_only" = 0 ]; then
    echo "CPU per second, in percent of one core:"
    cat "$out/cpu.txt"
    for exe_number in $(seq ${#exes[@]}); do
        for phase in warning waiting uploading updating connecting; do
            printf 'exe %s %-10s median of %s runs: exe + wineserver + X %.1f %%\n' "$exe_number" "$phase" \
                "$(wc -l <"$out/cpu-$phase-$exe_number.txt")" "$(median <"$out/cpu-$phase-$exe_number.txt")"
        done
    done
    echo "goals: waiting <= 2 %, updating <= 1 %"
fi
echo "load: $(uptime)"
