#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Compares the ABI of each installed library of a build with its baseline in
# abi/, or with --update makes the build's ABI the new baseline. Baselines are
# abidw's descriptions, kept gzip-compressed: they are generated, large, and
# describe the standard library's own members wherever our classes hold its types.
#   abi/check.sh BUILD_DIR [--update]
# The build must carry debug information (the tool preset does).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$1"
update="${2:-}"
list="$build/abi-libraries.txt"
[ -f "$list" ] || { echo "abi: $list missing; build the tool preset first" >&2; exit 2; }

dump() {
    abidw --no-corpus-path --no-comp-dir-path --no-show-locs --drop-private-types \
        --headers-dir "$root/include/ecrlink" --out-file "$2" "$1"
}

status=0
while read -r name file; do
    baseline="$root/abi/lib$name.abi.gz"
    current="$build/lib$name.abi"
    if [ "$update" = --update ]; then
        dump "$file" "$current"
        gzip -n -9 -c "$current" >"$baseline"
        echo "abi: lib$name baseline written to abi/lib$name.abi.gz"
        continue
    fi
    if [ ! -f "$baseline" ]; then
        echo "abi: lib$name has no baseline; write one with ./build.sh abi-update" >&2
        status=1
        continue
    fi
    dump "$file" "$current"
    gzip -d -c "$baseline" >"$build/lib$name.baseline.abi"
    result=0
    report=$(abidiff "$build/lib$name.baseline.abi" "$current") || result=$?
    if [ "$result" -eq 0 ]; then
        echo "abi: lib$name unchanged"
    else
        echo "$report"
        echo "abi: lib$name differs from abi/lib$name.abi.gz (abidiff status $result);" \
             "if the change is intended, refresh the baseline with ./build.sh abi-update and commit it" >&2
        status=1
    fi
done <"$list"
exit "$status"
