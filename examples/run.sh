#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the C and C# examples against an installed tree, installs the Python
# package offline, and plays each example's purchase against the simulated terminal,
# twice: the second start tells from the journal what became of the first purchase.
#   examples/run.sh PREFIX      (an install prefix holding lib/, include/ and bin/ecrlink)
set -euo pipefail
prefix=$(cd "$1" && pwd)
cd "$(dirname "$0")"
libdir=$(dirname "$(find "$prefix" -name libecrlinkc.so.1 | head -1)")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" # also where the linker finds libecrlinkc's needs

cc -std=c99 -Wall -Wextra -pedantic -Werror -I"$prefix/include" c/purchase.c -L"$libdir" -lecrlinkc -o "$work/purchase"
mcs -warnaserror -nologo -out:"$work/Purchase.exe" csharp/Purchase.cs
/usr/bin/python3 -m pip install -q --root-user-action=ignore --no-build-isolation --no-index --target "$work/site" ../python

# Runs one register program against a new simulated terminal; its address replaces ADDRESS. `expected`: a
# pattern its output must hold.
play_once() {
    local name=$1 expected=$2; shift 2
    local out="$work/sim.txt"
    "$prefix/bin/ecrlink" sim --pty --once >"$out" 2>&1 &
    local sim=$!
    for _ in $(seq 50); do grep -q '/dev/pts/' "$out" && break; sleep 0.1; done
    local address="serial:$(grep -o '/dev/pts/[0-9]*' "$out" | head -1)"
    local status=0
    timeout 30 "${@/ADDRESS/$address}" >"$work/$name.txt" 2>&1 || status=$?
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    if [ "$status" -ne 0 ] || ! grep -q -e "$expected" "$work/$name.txt"; then
        echo "$name example failed ($status):" >&2
        cat "$work/$name.txt" >&2
        return 1
    fi
    [ -z "${VERBOSE:-}" ] || cat "$work/$name.txt"
}

# A purchase with its journal, then another that starts by telling what became of the first.
play() {
    local name=$1; shift
    export REGISTER_JOURNAL="$work/$name.journal"
    play_once "$name" 'receipt:' "$@"
    play_once "$name" '^last transaction R-[0-9]*: answered$' "$@"
    echo "$name example: purchase with a receipt completed against the simulated terminal, and recovered from its journal"
}

play C "$work/purchase" ADDRESS 1250
PYTHONPATH="$work/site" play Python /usr/bin/python3 python/purchase.py ADDRESS 1250
play C# mono "$work/Purchase.exe" ADDRESS 1250
