#!/usr/bin/env bash
# Where there is no display: scripts/run says so and builds nothing, and the panel and the demo
# name the cause in one line and exit with 1, instead of Qt's abort.
#
#   tests/nodisplay.sh LDPANEL LDPANEL-DEMO
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
bare=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
# scripts/run gets a cmake that only notes it was called: a build would take minutes.
mkdir -p "$work/bin"
printf '#!/bin/sh\ntouch "%s"\nexit 3\n' "$work/cmake-called" >"$work/bin/cmake"
chmod +x "$work/bin/cmake"
run=("${bare[@]}" PATH="$work/bin:$PATH" BUILD_DIR="$work/build" bash "$root/scripts/run")

# scripts/run, for the panel and the demo: the paragraph, exit 1, no build folder made.
for args in "" "--demo"; do
    status=0
    # shellcheck disable=SC2086 # no arguments, or one
    "${run[@]}" $args >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "scripts/run $args exited with $status"
    grep -q 'xvfb-run -a scripts/run' "$work/out" || fail "scripts/run $args: $(cat "$work/out")"
    [ ! -e "$work/build" ] && [ ! -e "$work/cmake-called" ] || fail "scripts/run $args built"
done
# Given a platform, the script goes on to build.
status=0
"${run[@]}" -platform offscreen >"$work/out" 2>&1 || status=$?
[ "$status" -eq 3 ] && [ -e "$work/cmake-called" ] ||
    fail "scripts/run -platform offscreen did not go on to build ($status): $(cat "$work/out")"

# The programs themselves: one line on standard error, naming the cause and the way round it.
for program in "$@"; do
    status=0
    "${bare[@]}" "$program" >"$work/out" 2>"$work/err" || status=$?
    name=$(basename "$program")
    [ "$status" -eq 1 ] || fail "$name exited with $status"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$name wrote $(wc -l <"$work/err") lines"
    grep -q "^$name: no display to show the window on .*-platform offscreen" "$work/err" ||
        fail "$name said: $(cat "$work/err")"
    [ ! -s "$work/out" ] || fail "$name wrote to standard output: $(cat "$work/out")"
done
exit $failed
