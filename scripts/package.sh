#!/usr/bin/env bash
# Makes the packages from the Release builds into build/packages: the Debian
# package p2kfm_VERSION_ARCH.deb from build/native, and p2kfm-VERSION-win64.zip
# and -win32.zip from build/windows and build/windows32 (built first, as
# ./scripts/test.sh does). Then checks them: the .deb, unpacked with dpkg -x,
# holds the tool, which tells the package's version, its man page, the udev
# rules and the licence, and depends on libusb; each zip holds the three
# programs, the README and the licence.
set -euo pipefail
. "$(dirname "$0")/common.sh"

ensure_packages "${P2K_PACKAGING_PACKAGES[@]}"
OUT=$P2K_BUILD/packages
rm -rf "$OUT"
mkdir -p "$OUT"

echo "== Packages"
for build in native windows windows32; do
    (cd "$P2K_BUILD/$build" && cpack -B "$OUT" >/dev/null)
done
rm -rf "$OUT/_CPack_Packages"

failed=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

deb=$(echo "$OUT"/p2kfm_*.deb)
version=$(dpkg-deb -f "$deb" Version)
root=$OUT/unpacked
dpkg -x "$deb" "$root"
check "$(basename "$deb") is named for its version" test "$(basename "$deb")" = "p2kfm_${version}_$(dpkg --print-architecture).deb"
check "p2kfm-cli --version tells $version" test "$("$root/usr/bin/p2kfm-cli" --version)" = "p2kfm-cli $version"
check "the packaged tool lists the demo phone" bash -c "'$root/usr/bin/p2kfm-cli' --demo list --tsv 2>/dev/null | grep -q '^/a/mobile/audio/'"
check "the man page" test -s "$root/usr/share/man/man1/p2kfm-cli.1"
check "the udev rules" cmp -s "$root/usr/lib/udev/rules.d/99-p2kfm.rules" "$P2K_ROOT/resources/99-p2kfm.rules"
check "the licence" cmp -s "$root/usr/share/doc/p2kfm/copyright" "$P2K_ROOT/LICENSE"
check "nothing else" test "$(cd "$root" && find . -type f | sort | tr '\n' ' ')" = \
    "./usr/bin/p2kfm-cli ./usr/lib/udev/rules.d/99-p2kfm.rules ./usr/share/doc/p2kfm/copyright ./usr/share/man/man1/p2kfm-cli.1 "
check "depends on libusb" bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libusb-1.0-0'"
check "its postinst reloads the udev rules" bash -c "dpkg-deb --info '$deb' postinst | grep -q 'udevadm control --reload-rules'"

for arch in win64 win32; do
    zip=$OUT/p2kfm-$version-$arch.zip
    check "$(basename "$zip")" test "$(cmake -E tar tf "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort | tr '\n' ' ')" = \
        "LICENSE README.md p2kfm-cli.exe p2kfm-demo.exe p2kfm.exe "
done
ls -l "$OUT"/*.deb "$OUT"/*.zip | awk '{ print $5, $NF }'
exit "$failed"
