#!/usr/bin/env bash
# Makes the release build/release/QorUpgrade-<version>.zip: QorUpgrade.exe
# built from a clean clone of the committed HEAD, the user guide in HTML with
# its pictures, the licences of what the exe carries, and SHA256SUMS of them
# all. docs/releasing.md says how to make one.
#
#   tools/release.sh [--target-image FILE --transition-image FILE --firmware-licence FILE]
#
# Without images the exe carries the build's placeholders (a trial release).
# Real images come with the licence under which they may be passed on.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
images=()
firmware_licence=

usage() {
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

while [ $# -gt 0 ]; do
    case "$1" in
    --target-image) images+=("-DQOR_TARGET_IMAGE=$(absolute "$2")"); shift 2 ;;
    --transition-image) images+=("-DQOR_TRANSITION_IMAGE=$(absolute "$2")"); shift 2 ;;
    --firmware-licence) firmware_licence=$(absolute "$2"); shift 2 ;;
    *) usage ;;
    esac
done
if [ ${#images[@]} = 1 ]; then
    echo "release: give both images, or neither" >&2
    exit 2
fi
if [ ${#images[@]} = 2 ] && [ ! -f "$firmware_licence" ]; then
    echo "release: real images go out only with their licence (--firmware-licence FILE)" >&2
    exit 2
fi
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
    echo "release: the work tree has changes that are not committed; the release is built from HEAD only" >&2
fi

# The one place the version is set: project() in CMakeLists.txt, which also fills VERSIONINFO.
version=$(sed -n 's/^project(QorUpgrade VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
commit=$(git -C "$top" rev-parse HEAD)
name=QorUpgrade-$version
out=$top/build/release
work=$(mktemp -d /tmp/qor-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "release: $name from $commit"
git clone -q --no-checkout "$top" "$work/src"
git -C "$work/src" checkout -q --detach "$commit"
(cd "$work/src" && cmake --preset windows -DQOR_TESTS=OFF "${images[@]}" >/dev/null &&
    cmake --build --preset windows -j "$(nproc)" --target QorUpgrade >/dev/null)
exe=$work/src/build/windows/src/QorUpgrade.exe
python3 "$top/tests/wine/check_exe.py" --objdump x86_64-w64-mingw32-objdump "$exe" >/dev/null 2>&1 ||
    { echo "release: the exe fails its file checks (tests/wine/check_exe.py)" >&2; exit 1; }

stage=$work/$name
mkdir -p "$stage/screenshots" "$stage/licences"
cp "$exe" "$stage/"
# Debian's python3, which has python3-markdown (another python3 may come first in PATH).
/usr/bin/python3 "$top/tools/render_guide.py" "$work/src/docs/user-guide.md" "$stage/guide.html" --version "$version"
sed -n 's/.*(screenshots\/\([^)]*\.png\)).*/\1/p' "$work/src/docs/user-guide.md" | sort -u | while read -r picture; do
    cp "$work/src/docs/screenshots/$picture" "$stage/screenshots/"
done
# The exe is linked statically: it carries the GCC runtime (libstdc++,
# libgcc) and the mingw-w64 runtime with winpthreads.
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licences/mingw-w64-runtime.txt"
[ -z "$firmware_licence" ] || cp "$firmware_licence" "$stage/licences/firmware.txt"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

mkdir -p "$out"
rm -f "$out/$name.zip"
# Entries in name order with the commit's time, so that the zip too is the
# same for the same commit.
stamp=$(git -C "$top" log -1 --format=%ct "$commit")
python3 - "$work" "$name" "$out/$name.zip" "$stamp" <<'EOF'
import os, sys, time, zipfile
root, name, target, stamp = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
when = time.gmtime(max(stamp, 315532800))[:6]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, dirs, files in sorted(os.walk(os.path.join(root, name))):
        dirs.sort()
        for file in sorted(files):
            path = os.path.join(folder, file)
            entry = zipfile.ZipInfo(os.path.relpath(path, root), when)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            with open(path, "rb") as f:
                archive.writestr(entry, f.read())
EOF
echo "release: $out/$name.zip"
(cd "$stage" && grep QorUpgrade.exe SHA256SUMS)
