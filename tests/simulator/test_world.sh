#!/bin/bash
# The test world: addresses, names, isolation, exit status, time limit, and
# no process left behind.
set -u
world="$(dirname "$0")/../../tools/testworld/run_in_world.sh"
failures=0

check() {
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

inside=$("$world" --timeout 30 --pc 192.0.2.10 --pc 192.0.2.11 -- sh -c '
    echo "host=$(hostname)"
    echo "resolved=$(getent ahostsv4 qor-pc | awk "\$2 == \"STREAM\" {print \$1}" | tr "\n" " ")"
    echo "device-name=$(getent hosts 192.0.2.20 | wc -l)"
    echo "addrs=$(ip -4 -o addr show | awk "{print \$2 \"/\" \$4}" | sort | tr "\n" " ")"
    echo "links=$(ip -o link show | wc -l)"
    ip route get 198.51.100.1 >/dev/null 2>&1 && echo "outside=routed" || echo "outside=unreachable"
    mountpoint -q "/tmp/.wine-$(id -u)" && echo "wine=private" || echo "wine=shared"
    echo "env=$QOR_WORLD|$QOR_PC_ADDRS|$QOR_DEVICE_ADDRS|$QOR_PC_HOSTNAME"
    exit 7')
rc=$?
echo "$inside"
check "exit status passed through" [ "$rc" = 7 ]
check "private host name" grep -qx 'host=qor-pc' <<<"$inside"
check "host name resolves to the PC addresses, in order" grep -qx 'resolved=192.0.2.10 192.0.2.11 ' <<<"$inside"
check "the device address has no name" grep -qx 'device-name=0' <<<"$inside"
check "only the test addresses, on lo" \
    grep -qx 'addrs=lo/127.0.0.1/8 lo/192.0.2.10/32 lo/192.0.2.11/32 lo/192.0.2.20/32 ' <<<"$inside"
check "no link but lo" grep -qx 'links=1' <<<"$inside"
check "no route out" grep -qx 'outside=unreachable' <<<"$inside"
check "private Wine server directory" grep -qx 'wine=private' <<<"$inside"
check "environment" grep -qx 'env=1|192.0.2.10 192.0.2.11|192.0.2.20|qor-pc' <<<"$inside"
check "the machine's hosts file is untouched" bash -c '! grep -q qor-pc /etc/hosts'
check "the machine's host name is untouched" [ "$(hostname)" != qor-pc ]

"$world" --timeout 30 -- sh -c 'sleep 27.1828 & sleep 27.1829 & exit 0'
check "background processes end with the world" \
    bash -c '! ps -eo args | grep -q "^sleep 27\.182[89]"'

start=$(date +%s)
"$world" --timeout 2 -- sh -c 'sleep 31.4159 & sleep 31.4158' 2>/dev/null
rc=$?
check "time limit gives 124" [ "$rc" = 124 ]
check "time limit is kept" [ $(($(date +%s) - start)) -le 4 ]
sleep 0.5
check "nothing left after the time limit" bash -c '! ps -eo args | grep -q "^sleep 31\.415[89]"'

echo "$failures failure(s)"
[ "$failures" = 0 ]
