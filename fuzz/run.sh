#!/usr/bin/env bash
# Builds the fuzz preset and runs the dump-parser fuzzer for SECONDS (default 60)
# on a working copy of the seed corpus. Exits non-zero when the fuzzer finds a fault.
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target parse_dump_fuzz

build="$root/build/fuzz"
work="$build/corpus/parse_dump"
artifacts="$build/artifacts/parse_dump/"
mkdir -p "$work" "$artifacts"
cp -n fuzz/corpus/parse_dump/* "$work"/

log="$build/parse_dump_fuzz.log"
status=0
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  "$build/fuzz/parse_dump_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$work" >"$log" 2>&1 || status=$?

runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
echo "parse_dump_fuzz: ${runs:-unknown} runs in ${seconds} s (log: $log)"
if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "parse_dump_fuzz: finding, exit status $status; reproducer in $artifacts" >&2
    exit "$status"
fi
