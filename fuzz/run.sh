#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The fuzz targets (clang, ASan+UBSan):
#   fuzz/run.sh [SECONDS [TARGET...] [-FLAG...]]
#       fuzzes each target (all by default) for SECONDS (default 60; 0: no limit)
#       from its kept corpus fuzz/corpus/TARGET; what it finds new goes to
#       build/fuzz/corpus/TARGET, the tree stays as it is. -FLAGs go to libFuzzer
#       (e.g. -runs=10000000). Exits non-zero on a finding, leaving the input
#       in build/fuzz/artifacts/TARGET/.
#   fuzz/run.sh merge
#       folds build/fuzz/corpus/* into fuzz/corpus/*, minimised (commit the result).
#   fuzz/run.sh replay TARGET FILE [--gdb|--valgrind]
#       runs one input, under gdb or valgrind (a build without ASan) if asked.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
all=(parse_dump recv_message send_message parse_input read_capture serve_request)
build="$root/build/fuzz"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

compile() { # DIR [CMAKE-ARGS...]: builds the targets, in the fuzz preset or in DIR
    local dir=$1; shift
    [ "${ECRLINK_WERROR:-0}" = 1 ] && set -- "$@" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    if [ "$dir" = "$build" ]; then cmake --preset fuzz "$@" >/dev/null; else
        cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DECRLINK_BUILD_FUZZ=ON \
            -DECRLINK_BUILD_TESTS=OFF -DECRLINK_BUILD_TOOLS=OFF "$@" >/dev/null; fi
    cmake --build "$dir" -j2 --target "${all[@]/%/_fuzz}" >/dev/null
}

case "${1:-}" in
merge)
    compile "$build"
    for name in "${all[@]}"; do
        kept="fuzz/corpus/$name" fresh="$build/merged/$name"
        rm -rf "$fresh" && mkdir -p "$fresh" "$build/corpus/$name" "$kept"
        "$build/fuzz/${name}_fuzz" -merge=1 "$fresh" "$kept" "$build/corpus/$name" >"$build/${name}_merge.log" 2>&1
        rm -rf "$kept" && mv "$fresh" "$kept"
        echo "$kept: $(ls "$kept" | wc -l) inputs, $(du -sb "$kept" | cut -f1) bytes"
    done
    exit 0
    ;;
replay)
    name=${2:?target}; input=${3:?input file}
    case "${4:-}" in
    --gdb) # the leak check cannot run under a debugger
        compile "$build"
        ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" exec gdb -q -ex run --args "$build/fuzz/${name}_fuzz" "$input" ;;
    --valgrind)
        compile "$root/build/fuzz-valgrind" -DECRLINK_SANITIZE= -DCMAKE_CXX_FLAGS=-gdwarf-4 # valgrind reads DWARF 4
        exec valgrind --leak-check=full --show-possibly-lost=no --errors-for-leak-kinds=definite,indirect --error-exitcode=1 "$root/build/fuzz-valgrind/fuzz/${name}_fuzz" "$input" ;;
    *) compile "$build"; exec "$build/fuzz/${name}_fuzz" "$input" ;;
    esac
    ;;
esac

seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=() flags=()
for arg in "$@"; do if [[ $arg == -* ]]; then flags+=("$arg"); else targets+=("$arg"); fi; done
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
compile "$build"
for name in "${targets[@]}"; do
    work="$build/corpus/$name" artifacts="$build/artifacts/$name/" log="$build/${name}_fuzz.log"
    mkdir -p "$work" "$artifacts" "fuzz/corpus/$name"
    status=0
    # New finds go to the first directory only; the kept corpus is read.
    "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
        "${flags[@]}" "$work" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    final() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
    echo "${name}_fuzz: $(final number_of_executed_units) inputs, $(final average_exec_per_sec)/s (log: $log)"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        echo "${name}_fuzz: finding, exit status $status; input in $artifacts" >&2
        exit "$status"
    fi
done
