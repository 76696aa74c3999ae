# Shared by the scripts: where things are, and installing what is missing.

P2K_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
P2K_BUILD=${P2K_BUILD_DIR:-$P2K_ROOT/build}

# Installs the Debian packages named that are not installed yet, without
# what they only recommend.
ensure_packages() { install_missing --no-install-recommends "$@"; }

# ensure_packages_with_recommends PACKAGE...: the same, with what they
# recommend (Wine's 32-bit half finds most of its X libraries only there).
ensure_packages_with_recommends() { install_missing --install-recommends "$@"; }

install_missing() {
    local recommends=$1 missing=() pkg
    shift
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$recommends" "${missing[@]}"
}

# ensure_i386: lets apt install i386 packages beside the machine's own
# (ensure_packages then updates the package lists, as a package is missing).
ensure_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo dpkg --add-architecture i386
}

P2K_NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libusb-1.0-0-dev pkg-config umockdev libumockdev-dev)
# p2kfm-mount and its end-to-end test (getfattr, setfattr).
P2K_MOUNT_PACKAGES=(libfuse3-dev fuse3 attr)
P2K_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
# CPack's Debian package: dpkg-shlibdeps finds the dependencies, file spots the programs.
P2K_PACKAGING_PACKAGES=(dpkg-dev file)
P2K_WINE_PACKAGES=(wine wine64 xvfb xauth fonts-dejavu-core fonts-liberation)
# The 32-bit Windows programs need Wine's 32-bit half, from Debian's i386 architecture.
P2K_WINE32_PACKAGES=(wine32:i386)
# A virtual display large enough for the window and its dialogs.
P2K_XVFB=(xvfb-run -a -s "-screen 0 1024x768x24")

# configure_and_build DIR [cmake options...] [-- targets...]: warnings are
# errors here, where the compiler is Debian's; ccache is used when present.
configure_and_build() {
    local dir=$1 options=(-DP2K_WERROR=ON) targets=()
    shift
    command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift && targets=("$@")
    cmake -S "$P2K_ROOT" -B "$dir" -G Ninja "${options[@]}" >/dev/null
    cmake --build "$dir" ${targets[@]:+--target "${targets[@]}"}
}

# build_native [-- targets...]: the optimised native build in build/native,
# which the tests, the demo, the benchmarks and the Debian package share.
build_native() {
    configure_and_build "$P2K_BUILD/native" -DCMAKE_BUILD_TYPE=Release "$@"
}

# cross_build ARCH DIR [-- targets...]: a mingw-w64 Release cross-build.
cross_build() {
    local arch=$1 dir=$2
    shift 2
    configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$P2K_ROOT/cmake/mingw-w64-$arch.cmake" "$@"
}

# build_windows [-- targets...]: 64-bit Windows, in build/windows.
build_windows() { cross_build x86_64 "$P2K_BUILD/windows" "$@"; }

# build_windows32 [-- targets...]: 32-bit Windows, in build/windows32.
build_windows32() { cross_build i686 "$P2K_BUILD/windows32" "$@"; }

# use_wine_prefix DIR: Wine runs quietly in a prefix of its own, without
# offering to install .NET or Gecko.
use_wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}
