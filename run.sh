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
exec ./build/control7710
