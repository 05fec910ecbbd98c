#!/bin/sh
# Builds the Debian package of the station into build-pkg/ and prints its path. The
# programs are built with the compiler and linker flags Debian builds its own packages
# with (dpkg-buildflags: hardening included), and stripped by CPack.
set -eu
cd "$(dirname "$0")/.."
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build build-pkg --parallel "$(nproc)" >/dev/null
rm -f build-pkg/control7710_*.deb
(cd build-pkg && cpack -G DEB >/dev/null)
ls "$PWD"/build-pkg/control7710_*.deb
