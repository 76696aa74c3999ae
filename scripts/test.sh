#!/usr/bin/env bash
# Runs every test: the Windows cross-builds (64-bit and 32-bit, the latter
# checked for imports Windows XP lacks) with their end-to-end tests under
# Wine, the native tests on the optimised
# build, the packages, and the native tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
. "$(dirname "$0")/common.sh"

ensure_packages "${P2K_NATIVE_PACKAGES[@]}" "${P2K_MOUNT_PACKAGES[@]}" "${P2K_WINDOWS_PACKAGES[@]}" \
    "${P2K_PACKAGING_PACKAGES[@]}"

echo "== Layers"
"$P2K_ROOT/scripts/check_layers.sh"

echo "== Windows builds (mingw-w64, 64-bit and 32-bit)"
build_windows
build_windows32 -- p2kfm p2kfm-demo p2kfm-cli p2kfm-e2e
"$P2K_ROOT/scripts/check_xp_imports.sh" "$P2K_BUILD"/windows32/{p2kfm,p2kfm-demo,p2kfm-cli}.exe
"$P2K_ROOT/scripts/e2e.sh"
"$P2K_ROOT/scripts/e2e.sh" --windows32
"$P2K_ROOT/scripts/fuzz.sh"

echo "== Native tests (Release)"
build_native
ctest --test-dir "$P2K_BUILD/native" --output-on-failure -j "$(nproc)" --progress
"$P2K_ROOT/scripts/mount_e2e.sh" "$P2K_BUILD/native"

"$P2K_ROOT/scripts/package.sh"

echo "== Native tests under AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build "$P2K_BUILD/sanitize" -DCMAKE_BUILD_TYPE=Debug -DP2K_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$P2K_BUILD/sanitize" --output-on-failure -j "$(nproc)"
