#!/usr/bin/env bash
# Proves that QorUpgrade.exe is reproducible: builds one commit twice, from
# two clean clones in folders of different names and depths, at different
# times, and compares the two executables byte for byte.
#
#   tools/check-reproducible.sh [--against EXE] [COMMIT]      (default HEAD)
#
# --against EXE: EXE was already built from COMMIT in another folder (the
# test command passes its own build of a clean tree); one clean clone is
# built and compared with it.
#
# Exit status 0 when both builds give the same SHA-256.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
against=
if [ "${1:-}" = --against ]; then
    against=$(realpath "$2")
    shift 2
fi
commit=$(git -C "$top" rev-parse --verify "${1:-HEAD}^{commit}")
work=$(mktemp -d /tmp/qor-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT

# build_clone DIR: a clean clone of the commit in DIR, and its exe built
# with the project's own preset (tests left out).
build_clone() {
    local dir=$1
    git clone -q --no-checkout "$top" "$dir"
    git -C "$dir" checkout -q --detach "$commit"
    (cd "$dir" && cmake --preset windows -DQOR_TESTS=OFF >/dev/null &&
        cmake --build --preset windows -j "$(nproc)" --target QorUpgrade >/dev/null)
}

if [ -n "$against" ]; then
    echo "check-reproducible: building $commit once more, to compare with $against"
    first=$against
else
    echo "check-reproducible: building $commit twice"
    build_clone "$work/a"
    first=$work/a/build/windows/src/QorUpgrade.exe
fi
build_clone "$work/second/clone/of/QorUpgrade"
second=$work/second/clone/of/QorUpgrade/build/windows/src/QorUpgrade.exe
sha256sum "$first" "$second" | sed "s|$work/||"
if ! cmp -s "$first" "$second"; then
    echo "check-reproducible: the two builds differ; first differing bytes (offset, octal):" >&2
    cmp -l "$first" "$second" | head -n 10 >&2 || true
    exit 1
fi
echo "check-reproducible: both builds are the same, $(stat -c %s "$first") bytes"
