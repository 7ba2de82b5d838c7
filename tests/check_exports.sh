#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails when a shared library exports a symbol outside its API, or misses a
# function that HEADER declares (names ecrlink_...( in it).
#   check_exports.sh LIBRARY REGEX [HEADER]      (NM: the nm of the library's processor; default nm)
set -eu
exported=$("${NM:-nm}" -D --defined-only "$1" | c++filt | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' | sed 's/@@.*//')
leaked=$(echo "$exported" | grep -v -E "$2" || true)
if [ $# -ge 3 ]; then
    for name in $(grep -o -E 'ecrlink_[a-z0-9_]+\(' "$3" | tr -d '(' | sort -u); do
        echo "$exported" | grep -q -x "$name" || { echo "$name declared in $3 but not exported"; exit 1; }
    done
fi
if [ -n "$leaked" ]; then
    echo "symbols exported from $1 outside its API:"
    echo "$leaked"
    exit 1
fi
echo "exports of $1: API only"
