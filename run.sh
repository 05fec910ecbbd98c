#!/bin/sh
# Installs what is missing, builds, and opens the station.
set -eu
cd "$(dirname "$0")"
./scripts/deps.sh
./scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run.sh: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from a desktop session." >&2
    exit 1
fi
# A newcomer finds the simulated switch's address ready in the address box.
if [ ! -e build/control7710.dat ]; then
    printf '[SECMRU]\nADDR0=127.0.0.1\n' > build/control7710.dat
fi
# A simulated switch on 127.0.0.1:10001 stands in for a real one; it ends with the station.
./build/control7710-sim --bind 127.0.0.1 --port 10001 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
./build/control7710
