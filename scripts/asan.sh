#!/bin/sh
# Builds the whole project with clang, AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer in build-asan/ and runs every test there, the window's
# offscreen. Any report fails the test that caused it.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# The build runs each test program once to list its tests: the same options apply there.
export ASAN_OPTIONS="detect_leaks=1 strict_string_checks=1 detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan --parallel "$(nproc)"
ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)"
