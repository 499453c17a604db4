# Sourced by scripts/build-windows after common.sh: the Wine the Windows build is tried under.
#
# It is Wine 10 everywhere, since only from 10 on does Wine run the completion routine that Qt's
# Windows serial port starts its reads from; under Wine 8 a QSerialPort receives nothing. Debian
# 13 has it as wine64. On Debian 12 it comes from a Debian 13 tree made once with debootstrap
# (1.4 GB, one to three minutes) and kept in the cache; each call then runs in a mount namespace
# of its own with the host's /dev (so the host's pseudo-terminals are there) and the run's work
# folder under the same path. Needs root.
#
# Serial ports are pseudo-terminals from socat, and a pseudo-terminal has no modem lines: Wine
# asks for them on every wait and gives up when the ioctl fails. tests/wine/ptymodem.c, preloaded,
# answers for them as a null-modem cable would.

WINE_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/ldpanel
WINE_CHROOT=
WINE_WORK=
WINE_TMP=
WINE_LOADER=
WINE_SERVER=
WINE=()
WINE_IN_ROOT=()

# The Debian mirror apt uses here; nothing if none is named (debootstrap then takes its own).
# Most of the files named may not exist, which must not end the script.
debian_mirror() {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
        2>/dev/null | grep -E '^(deb |URIs:)' | grep -oE 'https?://[^ ]+/debian/?' | head -n 1 ||
        true
}

# Makes Wine 10 ready for a run whose files live in the folder $1.
wine_prepare() {
    WINE_WORK=$1
    local release
    release=$(. /etc/os-release && echo "${VERSION_ID%%.*}")
    if [ "${release:-0}" -ge 13 ]; then
        ensure_packages wine64
    else
        ensure_packages debootstrap
        WINE_CHROOT=$WINE_CACHE/wine10-trixie
        if [ ! -e "$WINE_CHROOT/.complete" ]; then
            local mirror start=$SECONDS
            mirror=$(debian_mirror)
            echo "build-windows: Wine 10 from Debian 13 into $WINE_CHROOT" \
                "(${mirror:-the default mirror})" >&2
            mkdir -p "$WINE_CACHE"
            rm -rf "$WINE_CHROOT"
            debootstrap --variant=minbase --include=wine64,fonts-wqy-zenhei trixie "$WINE_CHROOT" \
                ${mirror:+"$mirror"} >"$WINE_CACHE/debootstrap.log" 2>&1 ||
                { tail -n 20 "$WINE_CACHE/debootstrap.log" >&2; return 1; }
            touch "$WINE_CHROOT/.complete"
            echo "build-windows: Debian 13 tree made in $((SECONDS - start)) s" >&2
        fi
        # The tree's /tmp for this run: every call must find the same wineserver socket there.
        WINE_TMP=$(mktemp -d)
        chmod 1777 "$WINE_TMP"
    fi
    local candidate
    for candidate in /usr/lib/wine/wine64 /usr/lib/wine/wine; do
        if [ -x "$WINE_CHROOT$candidate" ]; then
            WINE_LOADER=$candidate
            break
        fi
    done
    if [ -z "$WINE_LOADER" ]; then
        echo "build-windows: no Wine loader in ${WINE_CHROOT:-/}" >&2
        return 1
    fi
    WINE_SERVER=$(dirname "$WINE_LOADER")/wineserver
    wine_commands
}

# Where Wine 10 is, as a command prefix: "${WINE[@]}" program.exe arguments... runs the program,
# and "${WINE_IN_ROOT[@]}" any command of Wine's tree (its wineserver, say).
wine_commands() {
    WINE_IN_ROOT=()
    if [ -n "$WINE_CHROOT" ]; then
        # /tmp first: mounted after the work folder, it would hide a work folder under /tmp.
        # chroot starts in /; the command starts where the caller is, if that is in the work
        # folder.
        WINE_IN_ROOT=(unshare -m --propagation private sh -c '
            root=$1 tmp=$2 work=$3 here=$(pwd)
            shift 3
            mount --rbind /dev "$root/dev" && mount -t proc proc "$root/proc" &&
                mount --rbind /sys "$root/sys" && mount --bind "$tmp" "$root/tmp" &&
                mkdir -p "$root$work" && mount --bind "$work" "$root$work" || exit 125
            exec chroot "$root" /bin/sh -c "cd \"\$0\" 2>/dev/null; exec \"\$@\"" "$here" "$@"' \
            sh "$WINE_CHROOT" "$WINE_TMP" "$WINE_WORK")
    fi
    WINE=("${WINE_IN_ROOT[@]}" "$WINE_LOADER")
}

# Ends the prefix's wineserver and the services it keeps running.
wine_stop() {
    if [ -n "$WINE_SERVER" ]; then
        "${WINE_IN_ROOT[@]}" "$WINE_SERVER" -k 2>/dev/null || true
    fi
}

wine_cleanup() {
    [ -n "$WINE_TMP" ] && rm -rf "$WINE_TMP"
    return 0
}
