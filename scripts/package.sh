#!/bin/sh
# Builds the Debian package of the station into build-pkg/ and prints its path.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-pkg --parallel "$(nproc)" >/dev/null
(cd build-pkg && cpack -G DEB >/dev/null)
ls "$PWD"/build-pkg/control7710_*.deb
