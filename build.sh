#!/usr/bin/env bash
# Set-up, build and run.
#   ./build.sh test           install what is missing, build with sanitizers, run every test
#   ./build.sh test release   the same suite in an optimised build without sanitizers
#   ./build.sh demo           install what is missing, build, run the main job
#   ./build.sh bench [FILTER] build optimised and run the benchmarks
#   ./build.sh tsan [FILTER]  build the runtime tests with ThreadSanitizer and run them
#   ./build.sh fuzz [SECONDS] build the libFuzzer targets with clang and run
#                             each on a copy of its corpus (default 60 s each),
#                             half as many side by side as there are cores
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
mode="${1:-test}"
shift || true

jobs="$(nproc 2>/dev/null || echo 2)"

packages=(cmake ninja-build g++ python3 libgtest-dev libgmock-dev libbenchmark-dev libicu-dev libxerces-c-dev pkg-config libsystemd0)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        local sudo=""
        if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# The bench mode also needs the peer logging library the file logger is
# measured against, and xfsprogs for the updater's install on a file system
# that clones (tools/bench_on_xfs.sh).
if [ "$mode" = "bench" ]; then
    packages+=(libspdlog-dev xfsprogs)
fi

# The fuzz mode also needs clang and its fuzzer runtime.
if [ "$mode" = "fuzz" ]; then
    packages+=(clang libclang-rt-14-dev)
fi
# The bench mode measures the XML reader against libxml2 too, and brings
# the profiler used to find where a benchmark spends its time.
if [ "$mode" = "bench" ]; then
    packages+=(libxml2-dev linux-perf)
fi

configure() {  # configure DIR [cmake options...]
    local dir="$1"; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

case "$mode" in
test)
    install_missing
    werror=OFF
    if [ "${CI:-}" = "true" ]; then werror=ON; fi
    if [ "${1:-}" = "release" ]; then
        dir=build/release-test
        configure "$dir" -DCMAKE_BUILD_TYPE=Release -DQELT_SANITIZE=OFF -DQELT_WERROR="$werror" -DQELT_TESTS=ON
    else
        dir=build/test
        configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DQELT_SANITIZE=ON -DQELT_WERROR="$werror" -DQELT_TESTS=ON
    fi
    cmake --build "$dir" -j "$jobs"
    cd "$dir"
    ctest --output-on-failure -j "$jobs"
    ;;
demo)
    install_missing
    configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELT_TESTS=OFF
    cmake --build build/release -j "$jobs"
    exec "$here/tools/demo.sh" "$here/build/release"
    ;;
bench)
    packages+=(rapidjson-dev nlohmann-json3-dev libsimdjson-dev python3)
    install_missing
    configure build/bench -DCMAKE_BUILD_TYPE=Release -DQELT_TESTS=OFF -DQELT_BENCH=ON
    cmake --build build/bench -j "$jobs"
    python3 tools/json_lookalikes.py build/bench/json_data > /dev/null
    status=0
    for b in build/bench/bench_*; do
        [ -x "$b" ] || continue
        echo "== $b"
        "$b" --benchmark_filter="${1:-.}" || status=1
    done
    exit $status
    ;;
tsan)
    install_missing
    configure build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELT_SANITIZE=OFF -DQELT_TESTS=ON \
        -DCMAKE_C_FLAGS="-fsanitize=thread" -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
    cmake --build build/tsan -j "$jobs" --target test_runtime
    TSAN_OPTIONS=halt_on_error=1 build/tsan/test_runtime --gtest_filter="${1:-*}"
    ;;
fuzz)
    install_missing
    seconds="${1:-60}"
    cc="$(command -v clang-14 || command -v clang)"
    cxx="$(command -v clang++-14 || command -v clang++)"
    CC="$cc" CXX="$cxx" configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELT_FUZZ=ON -DQELT_TESTS=OFF
    cmake --build build/fuzz -j "$jobs"
    # Each target works on a scratch copy of its corpus, so that what the
    # fuzzer adds does not flood the tree. Half the cores run targets side
    # by side (at least one); after the first fault no further target starts.
    scratch="$here/build/fuzz/run"
    at_once=$(( jobs / 2 )); [ "$at_once" -ge 1 ] || at_once=1
    run_target() {  # run_target NAME
        local target="$1" exe="$here/build/fuzz/fuzz/fuzz_$1"
        rm -rf "$scratch/$target"
        mkdir -p "$scratch/$target/corpus" "$scratch/$target/artifacts"
        cp "$here/tests/data/fuzz/$target/"* "$scratch/$target/corpus/" 2>/dev/null || true
        if (cd "$scratch/$target" && "$exe" -max_total_time="$seconds" -artifact_prefix=artifacts/ \
                -print_final_stats=1 corpus > log 2>&1); then
            echo "== fuzz_$target: $(grep -E '^stat::number_of_executed_units' "$scratch/$target/log" | awk '{print $2}') runs, no fault"
        else
            tail -n 40 "$scratch/$target/log"
            for found in "$scratch/$target"/artifacts/*; do
                [ -e "$found" ] && echo "== fault in fuzz_$target; reproducer: $found"
            done
            return 1
        fi
    }
    status=0
    running=0
    for target_dir in "$here"/tests/data/fuzz/*/; do
        target="$(basename "$target_dir")"
        [ -x "$here/build/fuzz/fuzz/fuzz_$target" ] || continue
        if [ "$running" -ge "$at_once" ]; then
            wait -n || status=1
            running=$(( running - 1 ))
        fi
        [ "$status" -eq 0 ] || break
        echo "== fuzz_$target for ${seconds}s"
        run_target "$target" &
        running=$(( running + 1 ))
    done
    while [ "$running" -gt 0 ]; do
        wait -n || status=1
        running=$(( running - 1 ))
    done
    exit $status
    ;;
*)
    echo "usage: ./build.sh test [release]|demo|bench [FILTER]|tsan [FILTER]|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
