#!/usr/bin/env bash
# Set-up, build and run.
#   ./build.sh test           install what is missing, build with sanitizers, run every test
#   ./build.sh demo           install what is missing, build, run the main job
#   ./build.sh bench [FILTER] build optimised and run the benchmarks
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
*)
    echo "usage: ./build.sh test|demo|bench [FILTER]" >&2
    exit 2
    ;;
esac
