#!/bin/bash
# The bash completions in a plain bash, without the bash-completion package: each file
# loads, completes option names from its program's help, files after an option that takes
# a file, and the values of an option that takes one of a few.
# Arguments: the completions folder, then the folder of the built programs.
set -u
completions=$1
programs=$2
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/files" "$scratch/files/fleet"
touch "$scratch/files/targets.txt"
cd "$scratch/files" || exit 1

if declare -F _init_completion >/dev/null; then
    echo "bash-completion is loaded; this test needs a plain bash"
    exit 1
fi
for file in "$completions"/*; do
    source "$file" 2>>"$scratch/errors"
done

# The offers for a command line whose last word is being completed, sorted, on one line.
offers() {
    local function=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    "$function" 2>>"$scratch/errors"
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

expect() {
    local got
    got=$(offers "${@:2}")
    if [[ $got != "$1" ]]; then
        echo "FAIL: ${*:3}: offered '$got', expected '$1'"
        failed=1
    fi
}

exporter=$programs/control7710-exporter
expect "fleet targets.txt" _control7710_exporter "$exporter" --targets ""
expect "targets.txt" _control7710_exporter "$exporter" --targets = t
expect "json logfmt" _control7710_exporter "$exporter" --log.format ""
expect "warn" _control7710_exporter "$exporter" --log.level = w
expect "--web.listen-address" _control7710_exporter "$exporter" --web
expect "" _control7710_exporter "$exporter" --web.listen-address ""
expect "--interval" _control7710_exporter "$exporter" 127.0.0.1 --i

sim=$programs/control7710-sim
expect "fleet targets.txt" _control7710_sim "$sim" --script ""
expect "delay=" _control7710_sim "$sim" --fault del
expect "--script" _control7710_sim "$sim" --sc

# The benchmark is built where its needs are met.
if [[ -x $programs/control7710-bench ]]; then
    expect "--quick" _control7710_bench "$programs/control7710-bench" --q
fi

cli=$programs/control7710-cli
expect "ok warning" _control7710_cli "$cli" check --manual ""
expect "warning" _control7710_cli "$cli" check 127.0.0.1 --manual = w
expect "--warning" _control7710_cli "$cli" check --w
expect "check" _control7710_cli "$cli" --port = 10001 ch
expect "" _control7710_cli "$cli" settings 127.0.0.1 sync =
expect "sync-time=" _control7710_cli "$cli" settings 127.0.0.1 sync-t

if [[ -s $scratch/errors ]]; then
    echo "FAIL: errors while completing:"
    cat "$scratch/errors"
    failed=1
fi
exit $failed
