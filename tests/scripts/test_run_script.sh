#!/bin/sh
# Runs run.sh in a scratch folder whose deps.sh, build.sh and programs are stand-ins that
# note that they ran and with what, and checks what run.sh did with them.
set -eu
run_sh="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

stub() {
    mkdir -p "$(dirname "$scratch/$1")"
    printf '#!/bin/sh\necho "$0 $*" >> "%s/ran"\n%s\n' "$scratch" "${2:-}" > "$scratch/$1"
    chmod +x "$scratch/$1"
}

cp "$run_sh" "$scratch/run.sh"
chmod +x "$scratch/run.sh"
stub scripts/deps.sh
stub scripts/build.sh
stub build/control7710-sim 'sleep 5'
# The station stand-in gives the simulator stand-in, started in the background, time to
# note its arguments.
stub build/control7710 "for _ in 1 2 3 4 5 6 7 8 9 10; do
    grep -q control7710-sim '$scratch/ran' && break
    sleep 0.1
done"

# Without any display: a message on stderr, a failure at once, nothing installed or built.
start=$(date +%s%N)
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/run.sh" \
    > "$scratch/out" 2> "$scratch/err" || status=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[ "$status" -ne 0 ] || fail "run.sh without a display exited 0"
[ "$elapsed_ms" -lt 1000 ] || fail "run.sh without a display took $elapsed_ms ms"
[ ! -e "$scratch/ran" ] || fail "run.sh without a display ran: $(cat "$scratch/ran")"
grep -q "no display" "$scratch/err" || fail "no message about the display on stderr"
grep -q "xvfb-run" "$scratch/err" || fail "the message does not say how to get a display"
[ ! -s "$scratch/out" ] || fail "run.sh without a display wrote to stdout"

# With a display: the simulator plays the demo unless told to keep quiet.
sim_arguments() {
    rm -f "$scratch/ran"
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:none "$@" >/dev/null 2>&1 ||
        fail "run.sh $* failed"
    grep "control7710-sim" "$scratch/ran" || true
}
sim_arguments "$scratch/run.sh" | grep -q -- "--script sim/demo.script" ||
    fail "run.sh did not start the simulator with the demo"
sim_arguments "$scratch/run.sh" --quiet-device | grep -q -- "--script" &&
    fail "run.sh --quiet-device started the demo"
sim_arguments CONTROL7710_QUIET_DEVICE=1 "$scratch/run.sh" | grep -q -- "--script" &&
    fail "CONTROL7710_QUIET_DEVICE=1 started the demo"
grep -q "scripts/build.sh" "$scratch/ran" || fail "run.sh with a display did not build"

[ "$failures" -eq 0 ] && echo "run.sh: all checks passed"
exit "$failures"
