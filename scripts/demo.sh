#!/usr/bin/env bash
# Runs p2kfm against the built-in demo phone: first the command-line tool,
# then the Windows program (p2kfm-demo.exe) under Wine; without a display it
# runs on a virtual one (Xvfb). The phone attaches a second after start.
#   ./scripts/demo.sh          both
#   ./scripts/demo.sh --cli    the command-line tool only
set -euo pipefail
. "$(dirname "$0")/common.sh"

ensure_packages "${P2K_NATIVE_PACKAGES[@]}"
build_native -- p2kfm-cli >/dev/null
cli="$P2K_BUILD/native/p2kfm-cli"
echo "\$ p2kfm-cli --demo list"
"$cli" --demo list
cat <<EOT

More on the demo phone: $cli --demo --help
  (for example: get NAME --to DIR, seem-get 4c 4c --to DIR, --trace volume;
   --demo-dir DIR keeps the demo phone's changes in DIR between runs)
EOT
[ "${1:-}" = --cli ] && exit 0

ensure_packages "${P2K_WINDOWS_PACKAGES[@]}" "${P2K_WINE_PACKAGES[@]}"
build_windows >/dev/null
use_wine_prefix "$P2K_BUILD/demo/wineprefix"
mkdir -p "$P2K_BUILD/demo"
echo
echo "Opening the window (p2kfm-demo.exe under Wine); close it to end."
if [ -n "${DISPLAY:-}" ]; then
    exec wine "$P2K_BUILD/windows/p2kfm-demo.exe"
fi
echo "No display: the window runs on a virtual display (Xvfb). Press Ctrl-C to end."
exec "${P2K_XVFB[@]}" wine "$P2K_BUILD/windows/p2kfm-demo.exe"
