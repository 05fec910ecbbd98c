#!/bin/sh
# Builds the layers below the window with ThreadSanitizer and runs their tests.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan --parallel "$(nproc)" --target \
    test_sockets test_frames test_address test_device_protocol test_notifications \
    test_link_machine test_timer_queue test_event_loop test_link_worker test_link_fleet test_link_loop test_sim
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
ctest --test-dir build-tsan -L 'transport|link|sim' --output-on-failure --parallel "$(nproc)"
