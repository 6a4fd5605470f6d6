# Wine for every run of the project (tests, screenshots, the main command):
# one prefix setup and a private X display. Sourced, not run:
#
#   . tools/wine/wine_setup.sh
#   qor_wine_env PREFIX      exports WINEPREFIX, WINEDEBUG (-all unless set), WINEDLLOVERRIDES
#   qor_take_prefix BUILD    a prefix of BUILD that no other run is using, then qor_wine_env
#   qor_make_prefix          makes the prefix once, then keeps its settings current
#                            and its Windows version (QOR_WINE_VERSION: win7, win10)
#   qor_check_windows_version  the prefix is set to that Windows version
#   qor_start_display DIR    a private Xvfb (1024x768, 24 bit); exports DISPLAY
#   qor_stop_display         ends that Xvfb
#   qor_display_works        the X server behind $DISPLAY answers

qor_wine_fonts=/usr/share/wine/fonts
qor_display_pid=

qor_wine_env() {
    export WINEPREFIX=$1
    export WINEDEBUG=${WINEDEBUG:--all}
    # No .NET or HTML engine: the program uses neither, and wineboot would ask for them.
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Runs go side by side, each in a prefix of its own: <build>/wineprefix, then
# wineprefix-1, -2, ... Each is held by an flock on file descriptor 8 until
# the calling shell ends (its children inherit the descriptor; the runs end
# their wineserver, X server and device at exit). A prefix is made the first
# time a run takes it, so a build makes as many as runs ever went at once.
qor_take_prefix() {
    local build=$1 slot prefix
    for slot in 0 1 2 3 4 5 6 7; do
        prefix=$build/wineprefix
        [ "$slot" = 0 ] || prefix=$prefix-$slot
        exec 8>"$prefix.lock"
        if flock -n 8; then
            qor_wine_env "$prefix"
            return 0
        fi
        exec 8>&-
    done
    echo "wine: all eight prefixes of $build are in use; waiting for the first" >&2
    exec 8>"$build/wineprefix.lock"
    flock 8
    qor_wine_env "$build/wineprefix"
}

# The settings every prefix of the project gets, as a registry file.
#
# X11 Driver: Wine draws each window's caption, frame and close box itself and
# no window manager is asked to take the windows. Without this a prefix shows
# no title bars or close boxes on a bare X server (Xvfb), and each dialog that
# goes away holds the thread up to 2 s while Wine waits for a window manager to
# report the window withdrawn (measured between the read request and the
# option acknowledgement, when dialog 114 gives way to 110).
#
# Fonts: the dialog templates are laid out for Windows' 8-point "MS Sans
# Serif", a bitmap face. Wine ships that bitmap font (sserife.fon) and Tahoma,
# Windows' face of message boxes; both are copied into the prefix below, where
# Wine looks for them, and with them the dialogs get the metrics of Windows.
# Message boxes are drawn in "MS Shell Dlg", which Tahoma stands for. Wine,
# unlike Windows, does not widen a message box for a caption longer than its
# text, so captions are in plain rather than bold MS Sans Serif (LOGFONTW:
# height -11, weight 400): "QOR Firwmare Upgrade Error" then fits above
# "Upgrade Failed: User Abort" instead of running under the close box.
#
# Windows version: what the programs of the prefix are told (the registry
# equivalent of winecfg /v), QOR_WINE_VERSION or else Windows 7, the default
# of our Wine (8.0).
qor_prefix_settings() {
    cat <<EOF
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine]
"Version"="${QOR_WINE_VERSION:-win7}"
EOF
    cat <<'EOF'

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="Tahoma"

[HKEY_CURRENT_USER\Control Panel\Desktop\WindowMetrics]
"CaptionFont"=hex:f5,ff,ff,ff,00,00,00,00,00,00,00,00,00,00,00,00,90,01,00,00,00,00,00,00,00,00,00,00,4d,00,53,00,20,00,53,00,61,00,6e,00,73,00,20,00,53,00,65,00,72,00,69,00,66,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
EOF
}

qor_make_prefix() {
    local stamp=$WINEPREFIX/qor-settings.reg
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: making the Wine prefix $WINEPREFIX (once)"
        timeout 180 wineboot -i >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: the Wine prefix did not come up" >&2; return 2; }
    fi
    if ! qor_prefix_settings | cmp -s - "$stamp"; then
        qor_prefix_settings >"$stamp.new"
        timeout 60 wine regedit /S "$(printf 'Z:%s' "${stamp//\//\\}.new")" >/dev/null 2>&1
        timeout 60 wineserver -w || true
        mv "$stamp.new" "$stamp"
    fi
    # Fonts Wine reads from the prefix only: the bitmap MS Sans Serif, Tahoma,
    # and Marlett for the glyphs of the caption buttons.
    local font
    for font in sserife.fon tahoma.ttf tahomabd.ttf marlett.ttf; do
        [ -f "$WINEPREFIX/drive_c/windows/Fonts/$font" ] || cp "$qor_wine_fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
}

qor_check_windows_version() {
    local want=${QOR_WINE_VERSION:-win7}
    if ! grep -A 3 '^\[Software\\\\Wine\]' "$WINEPREFIX/user.reg" | grep -q "^\"Version\"=\"$want\""; then
        echo "wine: the prefix $WINEPREFIX is not set to $want" >&2
        return 1
    fi
    echo "wine: the prefix is set to $want"
}

qor_start_display() {
    local dir=$1 i
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    qor_display_pid=$!
    # A busy machine making Wine prefixes beside it can take Xvfb well past
    # 10 s to come up; one that has ended will not.
    for i in $(seq 600); do
        if [ -s "$dir/display" ]; then
            export DISPLAY=":$(head -1 "$dir/display")"
            return 0
        fi
        kill -0 "$qor_display_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "wine: Xvfb did not start; its log: $dir/xvfb.log" >&2
    return 2
}

qor_stop_display() {
    [ -n "$qor_display_pid" ] || return 0
    kill "$qor_display_pid" 2>/dev/null || true
    wait "$qor_display_pid" 2>/dev/null || true
    qor_display_pid=
}

qor_display_works() {
    timeout 10 xdpyinfo >/dev/null 2>&1
}
