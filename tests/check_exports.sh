#!/bin/sh
# Fails when a shared library exports a symbol outside its API.
#   check_exports.sh LIBRARY REGEX
set -eu
leaked=$(nm -D --defined-only "$1" | c++filt | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' \
    | sed 's/@@.*//' | grep -v -E "$2" || true)
if [ -n "$leaked" ]; then
    echo "symbols exported from $1 outside its API:"
    echo "$leaked"
    exit 1
fi
echo "exports of $1: API only"
