#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One entry point for a fresh Debian machine (12 or later): installs what is missing, builds, runs.
#   ./build.sh demo            the whole purchase dialogue against the simulated terminal
#   ./build.sh test [PRESET]   every test (PRESET: dev, asan, tsan, clang, libcxx, release; default dev)
#   ./build.sh cross ARCH      libraries, program and tests for ARCH (arm64, armhf, i386, s390x), the tests run under qemu-user
#   ./build.sh fuzz [SECONDS]  each fuzz target for SECONDS from its kept corpus (clang, ASan+UBSan);
#                              also fuzz merge | fuzz replay TARGET FILE [--gdb|--valgrind] (fuzz/run.sh)
#   ./build.sh bench [OPTIONS] the hot paths next to their floors (docs/performance.md)
#   ./build.sh soak [COUNT]    COUNT purchases (default 2000) on a noisy line against the simulated terminal
#   ./build.sh example         installs into build/stage, builds examples/ against it (CMake and pkg-config), runs it
#   ./build.sh examples        the C, Python and C# examples over the C API against the simulated terminal
#   ./build.sh package [ARCH]  the Debian packages libecrlink1, libecrlink-dev, ecrlink-tools in build/packages
#                              (of this machine, or of ARCH), checked: architecture, copyright, C library floor
#   ./build.sh abi             compares the libraries' ABI with the baseline in abi/
#   ./build.sh abi-update      makes the current ABI the baseline (after an intended change; commit abi/)
#   ./build.sh deps [COMMAND]  only the packages (those of COMMAND, of CI with `ci`, or of every command)
# Package manager and build output go to build/logs/ and are shown only when a step fails.
set -euo pipefail
cd "$(dirname "$0")"
logs="$PWD/build/logs"
mkdir -p "$logs"
# A compiler cache where there is one (.ci/run installs it).
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"

# Runs a step with its output in a log file; on failure shows the log's end.
quiet() {
    local log="$logs/$1.log"; shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 80 "$log" >&2
        echo "failed: $* (whole output: $log)" >&2
        exit 1
    fi
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=0
apt_update() {
    [ "$updated" = 1 ] && return 0
    quiet apt $sudo apt-get -o DPkg::Lock::Timeout=900 update
    updated=1
}

# Installs the packages that are not installed yet (NAME:ARCH for another architecture's).
need() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing ${missing[*]} (log: $logs/apt.log)"
    apt_update
    quiet apt $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}"
}

# clang and, where the compiler does not bring it, the fuzzing runtime of
# clang's own version (its package name carries the version).
need_fuzzer() {
    need clang
    local probe="$logs/fuzzer-probe"
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe.cpp"
    clang++ -fsanitize=fuzzer "$probe.cpp" -o "$probe" 2>/dev/null && return 0
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    apt_update
    for p in "libclang-rt-$major-dev" "libclang-common-$major-dev"; do
        if apt-cache show "$p" >/dev/null 2>&1; then
            need "$p"
            return 0
        fi
    done
    echo "no package with libFuzzer for clang $major found" >&2
    exit 1
}

base=(cmake ninja-build g++)
serve=(libboost-dev nlohmann-json3-dev) # ecrlink serve: Boost.Beast, JSON
tool=("${base[@]}" libcli11-dev "${serve[@]}" help2man)
# chromium: the pages' tests; python3 and curl: the service's
tests=("${base[@]}" libcli11-dev "${serve[@]}" libgtest-dev libgmock-dev nftables iproute2 chromium python3 curl)
arches=(arm64 armhf i386 s390x)

# The architecture of a cross command, checked.
arch_of() {
    local arch=${1:-}
    if [[ " ${arches[*]} " != *" $arch "* ]]; then
        echo "$0: give the architecture: one of ${arches[*]}" >&2
        exit 2
    fi
    echo "$arch"
}

# Debian's cross toolchain, qemu-user to run what it builds (no binfmt_misc needed) and GoogleTest's
# source, built with the cross compiler.
need_cross() {
    need "${base[@]}" libcli11-dev "${serve[@]}" googletest "crossbuild-essential-$1" qemu-user
}

# The target's C and C++ libraries as packages of that architecture, so that dpkg-shlibdeps finds
# whom the program and the libraries depend on.
need_multiarch() {
    if [ "$1" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$1"; then
        echo "adding the architecture $1 to the package manager"
        $sudo dpkg --add-architecture "$1"
        updated=0
    fi
    need "libc6:$1" "libstdc++6:$1" "libgcc-s1:$1"
}

deps() {
    case "${1:-all}" in
    demo) need "${base[@]}" libcli11-dev "${serve[@]}" ;;
    test)
        case "${2:-dev}" in
        clang) need "${tests[@]}" clang ;;
        libcxx) need "${tests[@]}" clang libc++-dev libc++abi-dev googletest ;;
        release) need "${tests[@]}" libbenchmark-dev ;;
        *) need "${tests[@]}" ;;
        esac ;;
    fuzz) need "${base[@]}" nlohmann-json3-dev; need_fuzzer ;;
    bench) need "${tests[@]}" libbenchmark-dev valgrind ;;
    example) need "${tool[@]}" pkg-config ;;
    examples) need "${tool[@]}" python3 python3-pip python3-setuptools python3-wheel mono-mcs mono-runtime ;;
    cross)
        local arch
        arch=$(arch_of "${2:-}")
        need_cross "$arch"
        need nftables iproute2 chromium ;;
    package)
        need "${tool[@]}" dpkg-dev file
        if [ -n "${2:-}" ]; then
            local arch
            arch=$(arch_of "$2")
            need_cross "$arch"
            need_multiarch "$arch"
        fi ;;
    abi | abi-update) need "${tool[@]}" abigail-tools ;;
    all)
        need "${tool[@]}" "${tests[@]}" pkg-config dpkg-dev file abigail-tools libbenchmark-dev valgrind ccache \
            clang libc++-dev libc++abi-dev googletest qemu-user "${arches[@]/#/crossbuild-essential-}"
        need_fuzzer ;;
    ci) # what .ci/run uses, in one go
        need "${tool[@]}" "${tests[@]}" pkg-config dpkg-dev file abigail-tools ccache clang googletest qemu-user \
            crossbuild-essential-arm64 crossbuild-essential-armhf python3-pip python3-setuptools python3-wheel \
            mono-mcs mono-runtime
        need_fuzzer ;;
    *) echo "deps: unknown command $1" >&2; exit 2 ;;
    esac
}

build() {
    local preset=$1; shift
    local extra=("$@") more=()
    [ "${ECRLINK_WERROR:-0}" = 1 ] && extra+=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
    # ECRLINK_CMAKE_ARGS: more -D options for every configuration (CI's lighter builds).
    read -ra more <<<"${ECRLINK_CMAKE_ARGS:-}"
    extra+=("${more[@]}")
    echo "building preset $preset (log: $logs/build-$preset.log)"
    quiet "build-$preset" sh -c 'cmake --preset "$0" "$@" && cmake --build --preset "$0" -j "$(nproc)"' \
        "$preset" "${extra[@]}"
}

# The simulated terminal of the staged install on a pseudo-terminal, for one dialogue.
stage="$PWD/build/stage"
start_sim() {
    simout=$(mktemp)
    LD_LIBRARY_PATH="$libdir" "$stage/usr/bin/ecrlink" sim --pty --once >"$simout" 2>&1 &
    sim=$!
    for _ in $(seq 50); do grep -q '/dev/pts/' "$simout" && break; sleep 0.1; done
    path=$(grep -o '/dev/pts/[0-9]*' "$simout" | head -1)
}
stop_sim() {
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -f "$simout"
}

command=${1:-demo}
[ $# -gt 0 ] && shift
case "$command" in
deps) deps "${1:-all}" ;;
demo)
    deps demo
    build tool
    "$(cat build/tool/ecrlink-program)" demo "$@"
    ;;
test)
    preset=${1:-dev}
    deps test "$preset"
    build "$preset"
    ctest --preset "$preset" -j "$(nproc)" --timeout 120 --label-exclude soak --output-junit "$logs/tests-$preset.xml"
    ;;
cross)
    arch=$(arch_of "${1:-}")
    deps cross "$arch"
    build "cross-$arch" -DECRLINK_BUILD_SERVE=ON
    # The test preset leaves out what cannot run under the emulator (label native; README says why).
    ctest --preset "cross-$arch" -j "$(nproc)" --timeout 120 --output-junit "$logs/tests-cross-$arch.xml"
    ;;
soak)
    deps demo
    build tool
    nice "$(cat build/tool/ecrlink-program)" soak --count "${1:-2000}" "${@:2}"
    ;;
bench)
    deps bench
    bench/run.sh "$@"
    ;;
fuzz)
    deps fuzz
    fuzz/run.sh "$@"
    ;;
example)
    deps example
    build tool
    rm -rf "$stage" build/example
    quiet install env DESTDIR="$stage" cmake --install build/tool
    libdir=$(dirname "$(find "$stage" -name libecrlink.so | head -1)")
    echo "building examples/ with find_package(ecrlink) and with pkg-config"
    quiet example sh -c 'cmake -S examples -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$1/usr" && cmake --build build/example' \
        sh "$stage"
    flags=$(PKG_CONFIG_SYSROOT_DIR="$stage" PKG_CONFIG_LIBDIR="$libdir/pkgconfig" pkg-config --cflags --libs ecrlink ecrcomm)
    # shellcheck disable=SC2086
    g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -o build/example/register_purchase_pc \
        examples/register_purchase.cpp $flags -Wl,-rpath,"$libdir"
    for program in build/example/register_purchase build/example/register_purchase_pc; do
        start_sim
        status=0
        timeout 30 "$program" "serial:$path" 1250 >"$logs/example.log" 2>&1 || status=$?
        stop_sim
        [ "$status" -eq 0 ] || { cat "$logs/example.log"; echo "$program failed: $status" >&2; exit 1; }
        echo "$program: purchase completed against the simulated terminal"
    done
    ;;
examples)
    deps examples
    build tool
    rm -rf "$stage"
    quiet install env DESTDIR="$stage" cmake --install build/tool
    examples/run.sh "$stage/usr"
    ;;
package)
    arch=${1:+$(arch_of "$1")}
    deps package "$arch"
    preset=tool${arch:+-$arch}
    build "$preset"
    out=build/packages${arch:+/$arch}
    rm -f "$out"/*.deb
    # dpkg-shlibdeps reads the architecture the packages are for from DEB_HOST_ARCH.
    quiet "package${arch:+-$arch}" env ${arch:+DEB_HOST_ARCH=$arch} cpack --config "build/$preset/CPackConfig.cmake" -B "$out"
    cmake/check_packages.sh "${arch:-$(dpkg --print-architecture)}" "$out"/*.deb
    ;;
abi | abi-update)
    deps "$command"
    build tool
    abi/check.sh build/tool $([ "$command" = abi-update ] && echo --update)
    ;;
*)
    echo "usage: $0 demo | test [PRESET] | cross ARCH | bench [OPTIONS] | fuzz [SECONDS|merge|replay ...] | soak [COUNT] | example | examples | package [ARCH] | abi | abi-update | deps [COMMAND]" >&2
    exit 2
    ;;
esac
