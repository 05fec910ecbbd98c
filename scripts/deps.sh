#!/bin/sh
# Installs the Debian packages the station needs to build, test and run.
# Called by run.sh and test.sh; does nothing when everything is present.
set -eu

PACKAGES="build-essential cmake ninja-build qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
libxkbcommon-dev dpkg-dev fonts-liberation xvfb xauth clang libclang-rt-14-dev prometheus curl"
# The fleet exporter: Prometheus client and systemd-analyze for its unit.
PACKAGES="$PACKAGES prometheus-cpp-dev systemd"
# Manual pages, PNG icons and the package checks.
PACKAGES="$PACKAGES help2man librsvg2-bin lintian appstream desktop-file-utils"

missing=""
for pkg in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $pkg"
    fi
done

[ -z "$missing" ] && exit 0

echo "Installing missing packages:$missing"
if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
elif command -v sudo >/dev/null 2>&1; then
    sudo apt-get update -q && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
else
    echo "Cannot install packages without root or sudo. Run this as root, then try again:" >&2
    echo "  apt-get install -y$missing" >&2
    exit 1
fi
