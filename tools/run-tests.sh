#!/usr/bin/env bash
# Every test: the native build (plain, then ASan/UBSan and TSan), a short
# fuzz run, and the Windows build with its Wine tests. Needs root for the
# private network namespaces of the test world.
#
# The test presets run four tests at a time even on two cores: most of the
# time goes to waits (the device's restart, the updating wait, time-outs),
# tests take free ports or a network world of their own, and each Wine run
# takes its own prefix and X server. Every test gets one attempt: a test
# that slips on a loaded machine is mended or made a benchmark, since a
# second attempt would hide a race that fails one run in five.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

tools/setup/install-deps.sh
jobs=$(nproc)

run_preset() {
    local preset=$1
    echo "=== $preset (at ${SECONDS} s) ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" "${@:2}"
}

run_preset native
run_preset native-asan
run_preset native-tsan
echo "=== fuzz (short runs, at ${SECONDS} s) ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --test-dir build/fuzz -L fuzz --output-on-failure -j 3
run_preset windows
echo "=== reproducible exe (at ${SECONDS} s) ==="
# The Windows build above is of HEAD when nothing tracked is changed: one
# more build from a clean clone is then enough to compare.
if [ -z "$(git status --porcelain --untracked-files=no)" ]; then
    tools/check-reproducible.sh --against build/windows/src/QorUpgrade.exe
else
    tools/check-reproducible.sh
fi
