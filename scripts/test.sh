#!/usr/bin/env bash
# Runs every test: the Windows cross-build, the native tests, and the native
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
. "$(dirname "$0")/common.sh"

ensure_packages "${P2K_NATIVE_PACKAGES[@]}" "${P2K_MOUNT_PACKAGES[@]}" "${P2K_WINDOWS_PACKAGES[@]}"

echo "== Layers"
"$P2K_ROOT/scripts/check_layers.sh"

echo "== Windows build (mingw-w64)"
build_windows
"$P2K_ROOT/scripts/e2e.sh"
"$P2K_ROOT/scripts/fuzz.sh"

echo "== Native tests"
configure_and_build "$P2K_BUILD/native" -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir "$P2K_BUILD/native" --output-on-failure -j "$(nproc)" --progress
"$P2K_ROOT/scripts/mount_e2e.sh" "$P2K_BUILD/native"

echo "== Native tests under AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build "$P2K_BUILD/sanitize" -DCMAKE_BUILD_TYPE=Debug -DP2K_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$P2K_BUILD/sanitize" --output-on-failure -j "$(nproc)"
