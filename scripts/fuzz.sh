#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz/ and runs each for SECONDS (default 20) on its corpus.
#
#     scripts/fuzz.sh [SECONDS] [TARGET...]      TARGET: frames link machine address settings relay
#
# The seeds in fuzz/corpus/TARGET are only read; what a run finds is kept in
# build-fuzz/corpus/TARGET, so a later run goes on from there. A crash, a sanitizer
# report, a failed check or a hang stops the script with a non-zero status and leaves the
# input in build-fuzz/artifacts/.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh
seconds="${1:-20}"
[ $# -gt 0 ] && shift
targets="${*:-frames link machine address settings relay}"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCONTROL7710_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --parallel "$(nproc)" --target $(printf 'fuzz_%s ' $targets)
mkdir -p build-fuzz/artifacts

for target in $targets; do
    mkdir -p "build-fuzz/corpus/$target"
    log="build-fuzz/fuzz_$target.log"
    printf 'fuzz_%s: %s s ... ' "$target" "$seconds"
    if ! "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        echo "FAILED"
        tail -n 60 "$log"
        exit 1
    fi
    sed -n 's/^stat::number_of_executed_units: */clean, runs /p' "$log"
done
