#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the optimised preset and runs the hot-path benchmark: the instruction
# count of an exchange under callgrind first, then every row next to its floor.
#   bench/run.sh [benchmark options, e.g. --benchmark_filter=Log]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target hotpath_bench journal_bench >/dev/null
bench=build/release/bench/hotpath_bench

if command -v valgrind >/dev/null; then
    # The register's side only: the terminal's answer runs inside the
    # register's write and is toggled out again.
    out=$(mktemp)
    n=200
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect=ecrlink_bench_exchange --toggle-collect=ecrlink_bench_terminal \
        "$bench" --instructions "$n" >/dev/null 2>&1
    total=$(grep -m1 '^summary:' "$out" | awk '{print $2}')
    # The harness's own code is left out: the system call wrappers that count
    # and play the terminal, and the loop around the exchange. Its operator
    # new and delete stay in, standing for the C++ library's. What of the
    # harness callgrind_annotate files under a header without naming the
    # program (a few dozen instructions) stays in too.
    harness=$(callgrind_annotate --threshold=100 "$out" 2>/dev/null |
        awk -v bin="[$(realpath "$bench")]" 'index($0, bin) && !/operator (new|delete)/ {
            gsub(",", "", $1); sum += $1 } END { print sum + 0 }')
    rm -f "$out"
    export ECRLINK_BENCH_INSTRUCTIONS=$(((total - harness) / n))
    export ECRLINK_BENCH_HARNESS_INSTRUCTIONS=$((harness / n))
fi
"$bench" "$@"
# Recovery from a journal's end, young and old (with the whole set of rows only).
if [ $# -eq 0 ]; then build/release/bench/journal_bench; fi
