#!/usr/bin/env bash
# End-to-end tests of the Windows program: p2kfm-demo.exe runs under Wine on
# a virtual X display and p2kfm-e2e.exe drives its window from a second
# process; p2kfm.exe (the driver build) is started and closed once, and
# p2kfm-cli.exe copies a Cyrillic-named file both ways. Prints one
# line per check and closes with "N passed, M failed"; exits non-zero when a
# check failed. Screenshots land in build/e2e/ (window.png, menu.png,
# about.png, tray.png). Brings the Windows build in build/windows up to date
# first.
#
# With --windows32 the same checks run on the 32-bit programs of
# build/windows32, under Wine's 32-bit half, with screenshots in build/e2e32/.
set -euo pipefail
. "$(dirname "$0")/common.sh"

WIDTH=64
if [ "${1:-}" = --windows32 ]; then
    WIDTH=32
    shift
fi
if [ $WIDTH = 32 ]; then
    WINDOWS_BUILD=$P2K_BUILD/windows32
    E2E_DIR=$P2K_BUILD/e2e32
else
    WINDOWS_BUILD=$P2K_BUILD/windows
    E2E_DIR=$P2K_BUILD/e2e
fi

if [ "${1:-}" != --on-display ]; then
    echo "== End-to-end tests (Wine + Xvfb, $WIDTH-bit programs)"
    ensure_packages "${P2K_NATIVE_PACKAGES[@]}" "${P2K_WINDOWS_PACKAGES[@]}" "${P2K_WINE_PACKAGES[@]}" imagemagick
    if [ $WIDTH = 32 ]; then
        ensure_i386
        ensure_packages_with_recommends "${P2K_WINE32_PACKAGES[@]}"
        build_windows32 -- p2kfm p2kfm-demo p2kfm-cli p2kfm-e2e >/dev/null
        exec timeout 290 "${P2K_XVFB[@]}" "$0" --windows32 --on-display
    fi
    build_windows >/dev/null
    exec timeout 290 "${P2K_XVFB[@]}" "$0" --on-display
fi

started=$SECONDS
passed=0
failed=0

# The Wine prefix lives under the build folder and is made once. C.UTF-8
# lets Wine store Cyrillic file names on the Linux side, while its ANSI code
# page stays 1252, so the Russian texts must come through the program's own
# UTF-16.
use_wine_prefix "$P2K_BUILD/e2e/wineprefix"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
SHOTS=$E2E_DIR/requests
mkdir -p "$E2E_DIR" "$SHOTS"
rm -f "$SHOTS"/* "$E2E_DIR"/*.png

tally() { # tally LINE: echoes a check line and counts it
    echo "$1"
    case $1 in
    "ok   "*) passed=$((passed + 1)) ;;
    "FAIL "*) failed=$((failed + 1)) ;;
    esac
}

check() { # check NAME COMMAND...: one check line for whether COMMAND succeeded
    local name=$1
    shift
    if "$@"; then tally "ok   $name"; else tally "FAIL $name"; fi
}

winpath() { local path=$1; echo "Z:${path//\//\\}"; }

# Made once. Every program runs in a virtual desktop named "shell", which
# Wine draws whole: window captions, and a taskbar with the notification area.
prepare_prefix() {
    [ -f "$WINEPREFIX/.p2kfm-ready" ] && return 0
    local begun=$SECONDS
    wineboot --init >/dev/null 2>&1 &&
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1 &&
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1 &&
        wineserver -k && wineserver -w &&
        : >"$WINEPREFIX/.p2kfm-ready"
    echo "(wine prefix made in $((SECONDS - begun)) s)"
}

# Answers the driver's screenshot requests: NAME.request holds the screen
# rectangle; the picture goes to build/e2e/NAME.png, then NAME.done is made.
serve_screenshots() {
    local request name x y w h
    while :; do
        for request in "$SHOTS"/*.request; do
            [ -e "$request" ] || continue
            name=$(basename "$request" .request)
            read -r x y w h <"$request"
            [ "$x" -lt 0 ] && { w=$((w + x)); x=0; }
            [ "$y" -lt 0 ] && { h=$((h + y)); y=0; }
            import -window root -crop "${w}x${h}+${x}+${y}" +repage "$E2E_DIR/$name.png" 2>/dev/null || true
            rm -f "$request"
            : >"$SHOTS/$name.done"
        done
        sleep 0.1
    done
}

run_driver() { # run_driver ARGS...: p2kfm-e2e.exe's check lines, and one for its exit code
    local line
    while IFS= read -r line; do
        tally "$line"
    done < <(
        code=0
        wine "$WINDOWS_BUILD/e2e-driver/p2kfm-e2e.exe" "$@" 2>/dev/null || code=$?
        [ "$code" = 0 ] && echo "ok   the driver finished" || echo "FAIL the driver finished with exit code $code"
    )
}

wineserver -k 2>/dev/null || true
check "Wine prefix ready" prepare_prefix

serve_screenshots &
watcher=$!
trap 'kill $watcher 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT

echo "== p2kfm-demo.exe"
run_driver "$(winpath "$WINDOWS_BUILD/p2kfm-demo.exe")" "$(winpath "$SHOTS")"
echo "== p2kfm.exe"
run_driver --driver-build "$(winpath "$WINDOWS_BUILD/p2kfm.exe")" "$(winpath "$SHOTS")"

# Cyrillic phone names and PC folders on the command line: the ANSI argv
# (code page 1252 here) cannot carry them, the tool must read them as UTF-16.
echo "== p2kfm-cli.exe"
cli_copies() {
    local folder=$E2E_DIR/cli/Папка output
    rm -rf "$E2E_DIR/cli" && mkdir -p "$folder"
    check "p2kfm-cli.exe get saves Мелодия.mid into Папка" \
        wine "$WINDOWS_BUILD/p2kfm-cli.exe" --demo get /a/mobile/audio/Мелодия.mid --to "$(winpath "$folder")"
    check "its bytes match the window's download" \
        cmp -s "$folder/Мелодия.mid" "$WINEPREFIX/drive_c/users/$(id -un)/Temp/p2kfm-e2e/Мелодия.mid"
    output=$(wine "$WINDOWS_BUILD/p2kfm-cli.exe" --demo put "$(winpath "$folder/Мелодия.mid")" \
        --as /a/mobile/audio/копия_ 2>&1) || true
    check "p2kfm-cli.exe put uploads it under a Cyrillic name" \
        grep -qF "Закачка.../a/mobile/audio/копия_Мелодия.mid ok" <<<"$output"
    # A demo folder whose header puts the command interface at 11.
    local phone=$E2E_DIR/cli/phone11
    wine "$WINDOWS_BUILD/p2kfm-cli.exe" --demo-dir "$(winpath "$phone")" volume >/dev/null 2>&1 || true
    [ -f "$phone/p2kfm-demo-phone.txt" ] && sed -i '1a interface 11' "$phone/p2kfm-demo-phone.txt"
    output=$(wine "$WINDOWS_BUILD/p2kfm-cli.exe" --demo-dir "$(winpath "$phone")" --trace list 2>&1) || true
    check "p2kfm-cli.exe lists a phone at interface 11, index 0b in every setup block" \
        bash -c 'grep -qF "Найдено файлов:33" <<<"$1" && grep -q "^OUT 41 02 00 00 0b 00" <<<"$1" &&
            ! grep -q "^\(OUT\|IN \) .. .. .. .. 08 00" <<<"$1"' _ "$output"
}
cli_copies

for shot in window menu about tray; do
    check "$(basename "$E2E_DIR")/$shot.png saved" test -s "$E2E_DIR/$shot.png"
done

echo "(e2e run took $((SECONDS - started)) s)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
