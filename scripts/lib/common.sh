# Shared by the scripts: where things are, and installing what a fresh Debian 12 machine lacks.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

# What the panel needs to build and run.
# The panel's typeface (PT Sans Narrow) and a CJK font for the Chinese texts.
BUILD_PACKAGES=(cmake make g++ qtbase5-dev libqt5serialport5-dev clang-format fonts-paratype
    fonts-wqy-zenhei)
# What the tests need besides: the third-party Modbus peers, a headless X server, the fuzzers.
TEST_PACKAGES=(libmodbus-dev mbpoll xvfb xauth clang libclang-rt-14-dev valgrind)
# scripts/build-windows: the Windows compiler and the zip; with --wine, Wine on a virtual display.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix xz-utils zip unzip)
WINE_PACKAGES=(wine64 xvfb xauth fonts-wqy-zenhei)
# scripts/package: dpkg-shlibdeps finds the package's dependencies from the binaries.
PACKAGE_PACKAGES=(dpkg-dev file)

_apt_updated=0
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if [ $_apt_updated -eq 0 ]; then
        $sudo apt-get update -qq
        _apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configure and build into $1 (default $BUILD_DIR) with any extra CMake arguments.
build_tree() {
    local dir=${1:-$BUILD_DIR}
    shift || true
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
