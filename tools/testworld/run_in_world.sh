#!/bin/bash
# Runs a command in a private test world: its own network (loopback only, with
# the PC's and the device's test addresses), its own hosts file and host name,
# its own process tree, bounded in time. Needs root.
#
#   run_in_world.sh [--pc ADDR]... [--device ADDR]... [--hostname NAME]
#                   [--timeout SECONDS] [--syn-retries N] [--] COMMAND [ARGS...]
#
# Defaults: PC 192.0.2.10, device 192.0.2.20, host name qor-pc, 600 s.
# The exit status is the command's, 124 when the time ran out.
set -euo pipefail

pc_addrs=()
device_addrs=()
host_name=qor-pc
time_limit=600
syn_retries=
inside=0

usage() {
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --pc) pc_addrs+=("$2"); shift 2 ;;
    --device) device_addrs+=("$2"); shift 2 ;;
    --hostname) host_name="$2"; shift 2 ;;
    --timeout) time_limit="$2"; shift 2 ;;
    --syn-retries) syn_retries="$2"; shift 2 ;;
    --inside) inside=1; shift ;;
    -h | --help) usage ;;
    --) shift; break ;;
    -*) echo "run_in_world: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || usage
[ ${#pc_addrs[@]} -gt 0 ] || pc_addrs=(192.0.2.10)
[ ${#device_addrs[@]} -gt 0 ] || device_addrs=(192.0.2.20)

if [ "$inside" = 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "run_in_world: needs root (network, mount, uts and pid namespaces)" >&2
        exit 2
    fi
    args=(--hostname "$host_name")
    for a in "${pc_addrs[@]}"; do args+=(--pc "$a"); done
    for a in "${device_addrs[@]}"; do args+=(--device "$a"); done
    [ -z "$syn_retries" ] || args+=(--syn-retries "$syn_retries")
    # The command runs as PID 1's child of a new pid namespace: when the
    # world's first process ends, the kernel kills everything left in it, and
    # --kill-child ends the world when unshare itself is stopped by timeout.
    rc=0
    timeout --kill-after=5 "$time_limit" \
        unshare --net --mount --uts --pid --fork --kill-child --mount-proc \
        "$0" --inside "${args[@]}" -- "$@" || rc=$?
    exit $rc
fi

# --- inside the world ---
work=$(mktemp -d /tmp/qor-world.XXXXXX)
trap 'rm -rf "$work"' EXIT

ip link set lo up
for a in "${pc_addrs[@]}" "${device_addrs[@]}"; do
    ip addr add "$a/32" dev lo
done
[ -z "$syn_retries" ] || echo "$syn_retries" >/proc/sys/net/ipv4/tcp_syn_retries 2>/dev/null || true

# Name service: the hosts file alone, naming only the PC's own addresses.
{
    echo "127.0.0.1 localhost"
    for a in "${pc_addrs[@]}"; do echo "$a $host_name"; done
} >"$work/hosts"
echo "multi on" >"$work/host.conf"
sed 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf >"$work/nsswitch.conf"
: >"$work/resolv.conf"
for f in hosts host.conf nsswitch.conf resolv.conf; do
    [ -e "/etc/$f" ] || touch "/etc/$f"
    mount --bind "$work/$f" "/etc/$f"
done
hostname "$host_name"

# Wine keeps its server's socket under /tmp/.wine-UID: a private one there
# makes Wine start its own server inside this world, whose sockets then live
# in this network namespace and not in the machine's.
wine_dir="/tmp/.wine-$(id -u)"
mkdir -p "$wine_dir" "$work/wine"
chmod 700 "$work/wine"
mount --bind "$work/wine" "$wine_dir"

export QOR_WORLD=1
export QOR_PC_ADDRS="${pc_addrs[*]}"
export QOR_DEVICE_ADDRS="${device_addrs[*]}"
export QOR_PC_HOSTNAME="$host_name"

rc=0
"$@" || rc=$?
exit $rc
