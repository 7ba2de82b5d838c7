#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzzer for SECONDS (default 60) on a
# working copy of its seed corpus. Exits non-zero when a fuzzer finds a fault.
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

targets=(parse_dump recv_message send_message)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/%/_fuzz}"

build="$root/build/fuzz"
for name in "${targets[@]}"; do
    work="$build/corpus/$name"
    artifacts="$build/artifacts/$name/"
    mkdir -p "$work" "$artifacts"
    [ -d fuzz/corpus/"$name" ] && cp -n fuzz/corpus/"$name"/* "$work"/

    log="$build/${name}_fuzz.log"
    status=0
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts" "$work" >"$log" 2>&1 || status=$?

    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    echo "${name}_fuzz: ${runs:-unknown} runs in ${seconds} s (log: $log)"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        echo "${name}_fuzz: finding, exit status $status; reproducer in $artifacts" >&2
        exit "$status"
    fi
done
