#!/usr/bin/env bash
# Builds and runs the whole test suite in every configuration CI checks.
# Each configuration has its own build folder, so a developer can rerun one.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
fuzz_seconds=${QN_FUZZ_SECONDS:-20}

step() { printf '\n== %s\n' "$*"; }

# Each CTest run's summary is kept so the last line can total them.
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
run_ctest() { ctest "$@" | tee -a "$summary"; }

# Formatting first: it takes seconds and needs no build.
step "Formatting (clang-format)"
bash scripts/check-format.sh

# This configuration's tests include install_consumer: the build installed
# into a fresh prefix, with tests/consumer built and run against it. The /usr
# prefix is the Debian packages' (below): it puts the library in the multiarch
# folder; the build itself never installs there.
step "Release build with warnings as errors"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQN_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j "$jobs"
run_ctest --test-dir build --output-on-failure -j "$jobs"

# The release build's Debian packages: their files and dependencies, then
# (as root or with sudo) installed with apt-get, each project below built
# against them and run, the installed qn run, and the packages purged again.
# Entries are DIR:EXECUTABLE [ARGS] (scripts/check-packages.sh); the sample
# application (examples/travelagency) is built and run there too, against
# the installed qn sync-server.
package_consumers=(tests/consumer:app)
step "Debian packages"
bash scripts/check-packages.sh build "${package_consumers[@]}" | tee -a "$summary"

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_WERROR=ON \
    -DQN_SANITIZE=address,undefined -DQN_BUILD_BENCHMARKS=OFF -DQN_BUILD_TOOLS=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest --test-dir build-asan --output-on-failure -j "$jobs"

step "ThreadSanitizer (threaded tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_WERROR=ON \
    -DQN_SANITIZE=thread -DQN_BUILD_BENCHMARKS=OFF -DQN_BUILD_TOOLS=OFF
cmake --build build-tsan -j "$jobs"
# The suppressions name only libraries ThreadSanitizer cannot see into (the
# sample application's photo goes through libvips' own worker threads).
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp \
    run_ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

if command -v clang++ >/dev/null 2>&1; then
    step "Fuzz targets (${fuzz_seconds}s each)"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQN_BUILD_FUZZERS=ON -DQN_BUILD_TESTS=OFF -DQN_BUILD_BENCHMARKS=OFF -DQN_BUILD_TOOLS=OFF
    cmake --build build-fuzz -j "$jobs"
    for target in build-fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        name=$(basename "$target")
        corpus="fuzz/corpus/${name#fuzz_}"
        mkdir -p "build-fuzz/corpus-$name"
        echo "-- $name"
        "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
            "build-fuzz/corpus-$name" $( [ -d "$corpus" ] && echo "$corpus" ) 2>&1 | tail -n 3
    done
fi

step "All configurations passed"
passed=$(sed -n -e 's/.* tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' \
    -e 's/^packages: \([0-9]*\) passed, 0 failed$/\1/p' "$summary" |
    awk '{ n += $1 } END { print n + 0 }')
echo "${passed} passed, 0 failed"
