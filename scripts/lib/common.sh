# Shared by the scripts: where things are, and installing what a fresh Debian 12 or 13 machine
# lacks. Package names carry no release's version numbers, so both releases take the same lists.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Qt 5 unless LDPANEL_QT_MAJOR=6 asks for Qt 6; each has build folders of its own.
LDPANEL_QT_MAJOR=${LDPANEL_QT_MAJOR:-5}
case $LDPANEL_QT_MAJOR in
5)
    QT_PACKAGES=(qtbase5-dev libqt5serialport5-dev)
    QMAKE=/usr/lib/qt5/bin/qmake
    BUILD_SUFFIX=""
    ;;
6)
    QT_PACKAGES=(qt6-base-dev qt6-serialport-dev)
    QMAKE=/usr/lib/qt6/bin/qmake
    BUILD_SUFFIX=-qt6
    ;;
*)
    echo "LDPANEL_QT_MAJOR is 5 or 6, not $LDPANEL_QT_MAJOR" >&2
    exit 2
    ;;
esac
BUILD_DIR=${BUILD_DIR:-$ROOT/build$BUILD_SUFFIX}

# What the panel needs to build and run.
# The panel's typeface (PT Sans Narrow) and a CJK font for the Chinese texts.
BUILD_PACKAGES=(cmake make g++ "${QT_PACKAGES[@]}" clang-format fonts-paratype fonts-wqy-zenhei)
# What the tests need besides: the third-party Modbus peers, a headless X server, the fuzzers
# (libclang-rt-dev is the sanitizer and fuzzer runtime of the release's default clang). CMake
# finds libmodbus through pkg-config, which nothing else brings along on a fresh Debian 13.
# fc-list: the bundled-font test first makes sure the system's copy is hidden.
TEST_PACKAGES=(libmodbus-dev pkg-config mbpoll xvfb xauth clang libclang-rt-dev valgrind
    fontconfig)
# scripts/build-windows: the Windows compiler, the zip, and for the installer wixl (the MSI),
# msitools (to mend its upgrade table) and rsvg-convert and icotool (its icon); with --wine, a
# virtual display, the CJK font, and for the serial runs socat's pseudo-terminal pairs and the
# compiler of the preloaded modem-line shim. Wine itself comes from scripts/lib/wine.sh.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix xz-utils zip unzip wixl msitools librsvg2-bin icoutils)
WINE_PACKAGES=(xvfb fonts-wqy-zenhei socat gcc libc6-dev)
# scripts/package: dpkg-shlibdeps finds the package's dependencies from the binaries; help2man
# makes the manual pages.
PACKAGE_PACKAGES=(dpkg-dev file help2man)

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
    # Other builds on the machine may be installing too: wait for their apt to finish.
    if [ $_apt_updated -eq 0 ]; then
        $sudo apt-get update -qq -o DPkg::Lock::Timeout=300
        _apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "${missing[@]}"
}

# Configure $1 (default $BUILD_DIR) with any extra CMake arguments.
configure_tree() {
    local dir=${1:-$BUILD_DIR}
    shift || true
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLDPANEL_QT_MAJOR="$LDPANEL_QT_MAJOR" \
        "$@" >/dev/null
}

# Configure and build into $1 (default $BUILD_DIR) with any extra CMake arguments.
build_tree() {
    local dir=${1:-$BUILD_DIR}
    configure_tree "$@"
    cmake --build "$dir" -j"$(nproc)"
}

# Configure $1 and build only the targets named after it, with what they need.
build_targets() {
    local dir=$1
    shift
    configure_tree "$dir"
    cmake --build "$dir" -j"$(nproc)" --target "$@"
}

# Fails, naming them, if programs built in the tree $1 are still running: a test run must end
# everything it started. A program is the tree's when the file it runs from (/proc/PID/exe) is
# in the tree; a process that is only ending (a zombie) has none. Those found are ended too, so a
# failed run leaves nothing behind either.
none_left_running() {
    local dir pid exe left=()
    dir=$(cd "$1" && pwd -P)
    # A program just sent its signal may take a moment to go.
    for _ in $(seq 50); do
        left=()
        for pid in /proc/[0-9]*; do
            pid=${pid#/proc/}
            exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
            [[ $exe == "$dir"/* ]] && left+=("$pid")
        done
        [ ${#left[@]} -eq 0 ] && return 0
        sleep 0.1
    done
    echo "still running after the tests, started from $dir:" >&2
    for pid in "${left[@]}"; do
        echo "  $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
    done
    kill "${left[@]}" 2>/dev/null || true
    return 1
}
