#!/bin/sh
# Opens the station beside a simulated switch that plays a short demo once the station
# connects; installs what is missing and builds first. --quiet-device (or
# CONTROL7710_QUIET_DEVICE=1) starts the simulated switch without the demo.
set -eu
cd "$(dirname "$0")"
# Checked before anything is installed or built: without a display the window cannot open.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'TEXT'
run.sh: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the station's
window cannot open. Run it from a desktop session, or give it a virtual display:
    xvfb-run -a ./run.sh
or start one yourself and point DISPLAY at it:
    Xvfb :99 & DISPLAY=:99 ./run.sh
TEXT
    exit 1
fi
case "${CONTROL7710_QUIET_DEVICE:-0}" in
"" | 0) quiet=0 ;;
*) quiet=1 ;;
esac
for arg in "$@"; do
    case "$arg" in
    --quiet-device) quiet=1 ;;
    *)
        echo "run.sh: unknown option $arg (the only option is --quiet-device)" >&2
        exit 2
        ;;
    esac
done
./scripts/deps.sh
./scripts/build.sh build
# A newcomer finds the simulated switch's address ready in the address box.
if [ ! -e build/control7710.dat ]; then
    printf '[SECMRU]\nADDR0=127.0.0.1\n' > build/control7710.dat
fi
# A simulated switch on 127.0.0.1:10001 stands in for a real one; it ends with the station.
if [ "$quiet" = 1 ]; then
    ./build/control7710-sim --bind 127.0.0.1 --port 10001 &
else
    ./build/control7710-sim --bind 127.0.0.1 --port 10001 --script sim/demo.script &
fi
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
./build/control7710
