#!/usr/bin/env bash
# Set-up, build and run.
#   ./build.sh test           install what is missing, build with sanitizers, run every test
#   ./build.sh demo           install what is missing, build, run the main job
#   ./build.sh bench [FILTER] build optimised and run the benchmarks
#   ./build.sh fuzz [SECONDS] build the libFuzzer targets with clang and run
#                             each on a copy of its corpus (default 60 s each)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
mode="${1:-test}"
shift || true

jobs="$(nproc 2>/dev/null || echo 2)"

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libicu-dev libxerces-c-dev pkg-config)

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

# The fuzz mode also needs clang and its fuzzer runtime.
if [ "$mode" = "fuzz" ]; then
    packages+=(clang libclang-rt-14-dev)
fi
# The bench mode measures the XML reader against libxml2 too.
if [ "$mode" = "bench" ]; then
    packages+=(libxml2-dev)
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
    configure build/test -DCMAKE_BUILD_TYPE=Debug -DQELT_SANITIZE=ON -DQELT_WERROR="$werror" -DQELT_TESTS=ON
    cmake --build build/test -j "$jobs"
    cd build/test
    ctest --output-on-failure -j "$jobs"
    ;;
demo)
    install_missing
    configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELT_TESTS=OFF
    cmake --build build/release -j "$jobs"
    exec "$here/tools/demo.sh" "$here/build/release"
    ;;
bench)
    install_missing
    configure build/bench -DCMAKE_BUILD_TYPE=Release -DQELT_TESTS=OFF -DQELT_BENCH=ON
    cmake --build build/bench -j "$jobs"
    status=0
    for b in build/bench/bench_*; do
        [ -x "$b" ] || continue
        echo "== $b"
        "$b" --benchmark_filter="${1:-.}" || status=1
    done
    exit $status
    ;;
fuzz)
    install_missing
    seconds="${1:-60}"
    cc="$(command -v clang-14 || command -v clang)"
    cxx="$(command -v clang++-14 || command -v clang++)"
    CC="$cc" CXX="$cxx" configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELT_FUZZ=ON -DQELT_TESTS=OFF
    cmake --build build/fuzz -j "$jobs"
    # Each target works on a scratch copy of its corpus, so that what the
    # fuzzer adds does not flood the tree; the first fault stops the run.
    scratch="$here/build/fuzz/run"
    for target_dir in "$here"/tests/data/fuzz/*/; do
        target="$(basename "$target_dir")"
        exe="$here/build/fuzz/fuzz/fuzz_$target"
        [ -x "$exe" ] || continue
        rm -rf "$scratch/$target"
        mkdir -p "$scratch/$target/corpus" "$scratch/$target/artifacts"
        cp "$target_dir"* "$scratch/$target/corpus/" 2>/dev/null || true
        echo "== fuzz_$target for ${seconds}s"
        if ! (cd "$scratch/$target" && "$exe" -max_total_time="$seconds" -artifact_prefix=artifacts/ \
                -print_final_stats=1 corpus > log 2>&1); then
            tail -n 40 "$scratch/$target/log"
            for found in "$scratch/$target"/artifacts/*; do
                [ -e "$found" ] && echo "== fault in fuzz_$target; reproducer: $found"
            done
            exit 1
        fi
        grep -E "^#[0-9]+[[:space:]]+DONE" "$scratch/$target/log" | tail -n 1 || true
    done
    ;;
*)
    echo "usage: ./build.sh test|demo|bench [FILTER]|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
