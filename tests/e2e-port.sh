#!/usr/bin/env bash
# tst_e2e_port against ld-driver-sim, once per kind of line: the unit it expects and the lines are
# set here, for CTest and, sourced, for scripts/build-windows under Wine.
#
#   tests/e2e-port.sh LD-DRIVER-SIM TST_E2E_PORT [test arguments...]
#
# Each kind gets a simulator of its own on a pseudo-terminal it makes (--pty); exits non-zero if
# the test failed on any of them.

# What tst_e2e_port's read-outs expect: 1234 mA of at most 2500, the LD working, the TEC holding
# 25.34 degrees without noise, 0.5 hundredths of power per mA.
E2E_UNIT=(--max-current 2500 --current 1234 --ld-on 1 --tec-on 1 --temp-setting 2534
    --tec-temp 2534 --noise 0 --power-slope 0.5)
# The kinds of line, and the simulator's options for each.
E2E_KINDS=(plain echo cut wrap echo-wrap)
declare -A E2E_LINE=(
    [plain]=""
    # Every request heard back, as on a two-wire RS-485 adapter.
    [echo]="--local-echo"
    # Each answer in two bursts.
    [cut]="--split 40"
    # A glitch byte on each side of every answer, as a transceiver switching puts them, and the
    # answer's bytes 2 ms apart.
    [wrap]="--lead-bytes 00 --trail-bytes ff --byte-gap 2"
    [echo-wrap]="--local-echo --lead-bytes 00 --trail-bytes ff --split 20"
)

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

set -uo pipefail
sim=$1 test=$2
shift 2
work=$(mktemp -d)
simpid=
trap '[ -n "$simpid" ] && kill "$simpid" 2>/dev/null; rm -rf "$work"' EXIT
failed=()
for kind in "${E2E_KINDS[@]}"; do
    # shellcheck disable=SC2086 # the line's options are words
    "$sim" --pty "${E2E_UNIT[@]}" ${E2E_LINE[$kind]} --quiet \
        >"$work/$kind.pty" 2>"$work/$kind.log" &
    simpid=$!
    for _ in $(seq 100); do
        [ -s "$work/$kind.pty" ] && break
        sleep 0.05
    done
    echo "== $kind line (${E2E_LINE[$kind]:-no options}) on $(head -n 1 "$work/$kind.pty")"
    LDPANEL_TEST_PORT=$(head -n 1 "$work/$kind.pty") "$test" "$@" || failed+=("$kind")
    kill "$simpid" 2>/dev/null
    wait "$simpid" 2>/dev/null
    simpid=
    cat "$work/$kind.log" >&2
done
[ ${#failed[@]} -eq 0 ] || { echo "tst_e2e_port failed on: ${failed[*]}" >&2; exit 1; }
