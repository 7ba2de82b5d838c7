#!/usr/bin/env bash
# One entry point for a fresh Debian machine: installs what is missing, builds, runs.
#   ./build.sh demo            the whole purchase dialogue against the simulated terminal
#   ./build.sh test [PRESET]   every test (PRESET: dev, asan, tsan, clang, release; default dev)
#   ./build.sh fuzz [SECONDS]  each fuzz target for SECONDS from its kept corpus (clang, ASan+UBSan);
#                              also fuzz merge | fuzz replay TARGET FILE [--gdb|--valgrind] (fuzz/run.sh)
#   ./build.sh example         installs the libraries into build/stage, builds examples/ against them, runs it
#   ./build.sh deps            only the packages
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev)

deps() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

build() {
    local preset=$1; shift
    local extra=()
    [ "${ECRLINK_WERROR:-0}" = 1 ] && extra+=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" "$@"
}

command=${1:-demo}
[ $# -gt 0 ] && shift
case "$command" in
deps) deps ;;
demo)
    deps
    build release --target ecrlink_tool
    build/release/tools/ecrlink demo "$@"
    ;;
test)
    deps
    preset=${1:-dev}
    build "$preset"
    ctest --preset "$preset" -j "$(nproc)" --timeout 120
    ;;
fuzz)
    deps
    fuzz/run.sh "$@"
    ;;
example)
    deps
    build release
    cmake --install build/release --prefix "$PWD/build/stage" >/dev/null
    cmake -S examples -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$PWD/build/stage" >/dev/null
    cmake --build build/example
    # and run it against the simulated terminal
    out=$(mktemp)
    build/release/tools/ecrlink sim --pty --once >"$out" 2>&1 &
    sim=$!
    for _ in $(seq 50); do grep -q '/dev/pts/' "$out" && break; sleep 0.1; done
    path=$(grep -o '/dev/pts/[0-9]*' "$out" | head -1)
    status=0
    timeout 30 build/example/register_purchase "serial:$path" 1250 || status=$?
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -f "$out"
    [ "$status" -eq 0 ] || { echo "example failed: $status" >&2; exit 1; }
    echo "example: purchase completed against the simulated terminal"
    ;;
*)
    echo "usage: $0 demo | test [PRESET] | fuzz [SECONDS|merge|replay ...] | example | deps" >&2
    exit 2
    ;;
esac
