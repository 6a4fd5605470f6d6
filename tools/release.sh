#!/usr/bin/env bash
# Makes the release build/release/QorUpgrade-<version>.zip: QorUpgrade.exe
# built from a clean clone of the committed HEAD, the user guide in HTML with
# its pictures, the licences of what the exe carries, and SHA256SUMS of them
# all. docs/releasing.md says how to make one.
#
#   tools/release.sh [--target-image FILE --transition-image FILE --firmware-licence FILE]
#                    [--sign PFX [--timestamp URL]] [--exe EXE] [--out DIR]
#
# Without images the exe carries the build's placeholders (a trial release).
# Real images come with the licence under which they may be passed on.
# --sign: the exe is signed (Authenticode, SHA-256) with the certificate and
# key in PFX; the password is read from the file named by
# QOR_SIGN_PASSWORD_FILE, or else from QOR_SIGN_PASSWORD. --timestamp: the
# time-stamp server (RFC 3161) that countersigns it. --exe: an exe already
# built from HEAD (tools/check-reproducible.sh --against EXE shows it is)
# instead of a new build. --out: where the zip goes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
images=()
firmware_licence=
pfx=
timestamp_url=
prebuilt=
out=$top/build/release

usage() {
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

fail() {
    echo "release: $*; no zip written" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case "$1" in
    --target-image) images+=("-DQOR_TARGET_IMAGE=$(absolute "$2")"); shift 2 ;;
    --transition-image) images+=("-DQOR_TRANSITION_IMAGE=$(absolute "$2")"); shift 2 ;;
    --firmware-licence) firmware_licence=$(absolute "$2"); shift 2 ;;
    --sign) pfx=$(absolute "$2"); shift 2 ;;
    --timestamp) timestamp_url=$2; shift 2 ;;
    --exe) prebuilt=$(absolute "$2"); shift 2 ;;
    --out) mkdir -p "$2"; out=$(cd "$2" && pwd); shift 2 ;;
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
if [ -n "$prebuilt" ] && [ ${#images[@]} != 0 ]; then
    echo "release: --exe takes the place of the build; its images are the ones it was built with" >&2
    exit 2
fi
if [ -n "$timestamp_url" ] && [ -z "$pfx" ]; then
    echo "release: --timestamp goes with --sign" >&2
    exit 2
fi
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
    echo "release: the work tree has changes that are not committed; the release is built from HEAD only" >&2
fi

# The one place the version is set: project() in CMakeLists.txt, which also fills VERSIONINFO.
version=$(sed -n 's/^project(QorUpgrade VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
commit=$(git -C "$top" rev-parse HEAD)
name=QorUpgrade-$version
work=$(mktemp -d /tmp/qor-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The password goes to openssl and osslsigncode in a file of the work folder
# (mode 600), never on a command line, where other users could read it.
password_file=$work/password
take_password() {
    if [ -n "${QOR_SIGN_PASSWORD_FILE:-}" ]; then
        [ -r "$QOR_SIGN_PASSWORD_FILE" ] || fail "cannot read the password file $QOR_SIGN_PASSWORD_FILE"
        (umask 077 && head -n 1 "$QOR_SIGN_PASSWORD_FILE" | tr -d '\r\n' >"$password_file")
    elif [ -n "${QOR_SIGN_PASSWORD+set}" ]; then
        (umask 077 && printf '%s' "$QOR_SIGN_PASSWORD" >"$password_file")
    else
        fail "--sign needs the PFX password in QOR_SIGN_PASSWORD_FILE (a file) or QOR_SIGN_PASSWORD"
    fi
}

# Before the build: the PFX must open with the password and hold a key and a
# certificate. Its certificates, with the system's, are what the signature
# is verified against afterwards.
check_pfx() {
    command -v osslsigncode >/dev/null || fail "osslsigncode is missing (tools/setup/install-deps.sh installs it)"
    [ -r "$pfx" ] || fail "cannot read $pfx"
    take_password
    local said
    if ! said=$(openssl pkcs12 -in "$pfx" -noout -passin "file:$password_file" 2>&1); then
        case $said in
        *"invalid password"* | *"mac verify"*) fail "the password does not open $pfx" ;;
        *) fail "$pfx is not a PKCS#12 (PFX) file that openssl can read ($(echo "$said" | head -n 1 | sed 's/.*://'))" ;;
        esac
    fi
    openssl pkcs12 -in "$pfx" -nocerts -nodes -passin "file:$password_file" 2>/dev/null | grep -q "PRIVATE KEY" ||
        fail "$pfx holds no private key"
    openssl pkcs12 -in "$pfx" -nokeys -passin "file:$password_file" 2>/dev/null >"$work/pfx-certificates.pem"
    grep -q "BEGIN CERTIFICATE" "$work/pfx-certificates.pem" || fail "$pfx holds no certificate"
    cat "$work/pfx-certificates.pem" /etc/ssl/certs/ca-certificates.crt >"$work/trusted.pem" 2>/dev/null || true
}

# sign_exe UNSIGNED SIGNED: SHA-256 Authenticode signature, verified, and
# proven to wrap UNSIGNED unchanged (removing it gives UNSIGNED back).
sign_exe() {
    local unsigned=$1 signed=$2 stamp=()
    [ -z "$timestamp_url" ] || stamp=(-ts "$timestamp_url")
    osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 -n QorUpgrade "${stamp[@]}" \
        -in "$unsigned" -out "$signed" >"$work/sign.log" 2>&1 ||
        fail "osslsigncode could not sign the exe: $(tail -n 3 "$work/sign.log")"
    osslsigncode verify -in "$signed" -CAfile "$work/trusted.pem" >"$work/verify.log" 2>&1 ||
        fail "the signature does not verify: $(grep -i -m 3 'fail\|error' "$work/verify.log")"
    osslsigncode remove-signature -in "$signed" -out "$work/unsigned-again.exe" >/dev/null 2>&1 &&
        cmp -s "$unsigned" "$work/unsigned-again.exe" ||
        fail "the signed exe is not the built exe with a signature added"
    echo "release: signed with $(grep -m 1 'Subject:' "$work/verify.log" | sed 's/^[[:space:]]*//')"
}

[ -z "$pfx" ] || check_pfx
echo "release: $name from $commit"
git clone -q --no-checkout "$top" "$work/src"
git -C "$work/src" checkout -q --detach "$commit"
if [ -n "$prebuilt" ]; then
    exe=$prebuilt
else
    (cd "$work/src" && cmake --preset windows -DQOR_TESTS=OFF "${images[@]}" >/dev/null &&
        cmake --build --preset windows -j "$(nproc)" --target QorUpgrade >/dev/null)
    exe=$work/src/build/windows/src/QorUpgrade.exe
fi
python3 "$top/tests/wine/check_exe.py" --objdump x86_64-w64-mingw32-objdump "$exe" >/dev/null 2>&1 ||
    fail "the exe fails its file checks (tests/wine/check_exe.py)"

stage=$work/$name
mkdir -p "$stage/screenshots" "$stage/licences"
if [ -n "$pfx" ]; then
    sign_exe "$exe" "$stage/QorUpgrade.exe"
else
    cp "$exe" "$stage/QorUpgrade.exe"
fi
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
if [ -n "$pfx" ]; then
    echo "release: without its signature the exe is the build, $(sha256sum "$exe" | cut -d' ' -f1)"
fi
