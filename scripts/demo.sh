#!/usr/bin/env bash
# Runs p2kfm against the built-in demo phone.
set -euo pipefail
. "$(dirname "$0")/common.sh"

ensure_packages "${P2K_NATIVE_PACKAGES[@]}"
configure_and_build "$P2K_BUILD/native" -DCMAKE_BUILD_TYPE=Debug -- p2kfm-cli >/dev/null
exec "$P2K_BUILD/native/p2kfm-cli" --demo --trace list
