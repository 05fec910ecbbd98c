#!/bin/sh
# The window program's command line, with no display at all: --help and --version answer,
# anything else is refused with a usage line and status 64, all before a display is needed.
# Argument: the program.
set -u
program=$1
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@" \
        >"$scratch/out" 2>"$scratch/err"
    status=$?
}

expect() {
    if [ "$2" != "$3" ]; then
        printf 'FAIL: %s: got "%s", expected "%s"\n' "$1" "$2" "$3"
        failed=1
    fi
}

usage="Usage: control7710 [--help | --version]"
for help in --help -h; do
    run "$help"
    expect "$help status" "$status" 0
    expect "$help first line" "$(head -n 1 "$scratch/out")" "$usage"
    expect "$help errors" "$(cat "$scratch/err")" ""
done

run --version
expect "--version status" "$status" 0
expect "--version" "$(sed 's/[0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*$/X.Y.Z/' "$scratch/out")" \
    "control7710 X.Y.Z"

run --bogus
expect "--bogus status" "$status" 64
expect "--bogus output" "$(cat "$scratch/out")" ""
expect "--bogus errors" "$(cat "$scratch/err")" "control7710: unknown option --bogus
$usage"

run 192.0.2.1
expect "argument status" "$status" 64
expect "argument errors" "$(head -n 1 "$scratch/err")" "control7710: unexpected argument 192.0.2.1"

# Without arguments the window is wanted, and there is no display for it.
run
expect "no display status" "$status" 1
exit $failed
