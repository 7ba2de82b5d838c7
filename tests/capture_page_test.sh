#!/bin/sh
# SPDX-License-Identifier: MIT
# A day's capture (COUNT purchases, each `send` a session of its own, on a line with faults) makes a page that loads
# in headless Chromium without a console message, runs its script to the end, lists one row per transaction and
# opens the diagram of the one its address names; screenshots of the list and of an opened transaction are taken
# (capture-page.png, capture-transaction.png in the working directory).
#   CAPTURE_PAGE_COUNT=N capture_page_test.sh [EMULATOR...] ECRLINK   (the words are the command that runs the program)
set -u
command -v chromium >/dev/null || { echo "SKIPPED: chromium is not installed (apt-get install chromium)"; exit 77; }
count=${CAPTURE_PAGE_COUNT:-2000}
dir=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$@" sim --tcp 0 --faults corrupt=0.01,nak=0.01 --seed 3 >"$dir/sim.txt" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q listening "$dir/sim.txt" && break; sleep 0.05; done
address=$(grep -o '127.0.0.1:[0-9]*' "$dir/sim.txt") || fail "the simulated terminal did not start"
for i in $(seq "$count"); do
    "$@" send "tcp:$address" --tag 2=PURCHASE --tag "4=u32:$i" --capture "$dir/capture" >/dev/null || fail "send $i"
done
"$@" decode --capture "$dir/capture" --html "$dir/page.html" >/dev/null || fail "decode"
! grep -Eq '(src|href)=' "$dir/page.html" || fail "the page refers to other files"

browse() {
    page=$1
    shift
    timeout 100 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$(mktemp -d -p "$dir")" --enable-logging=stderr --v=0 "$@" "file://$dir/page.html$page"
}
opened=$((count / 2 + 1))
browse "#tx=$opened" --dump-dom >"$dir/dom.html" 2>"$dir/log.txt" || fail "chromium: $(tail -3 "$dir/log.txt")"
! grep CONSOLE "$dir/log.txt" || fail "the page logged to the console"
grep -q 'data-ready="1"' "$dir/dom.html" || fail "the page's script did not run to its end"
rows=$(grep -o '<tr class="tx[ "]' "$dir/dom.html" | wc -l)
[ "$rows" -eq "$count" ] || fail "$rows transaction rows for $count purchases"
# The opened diagram, up to the end of its cell: a purchase draws at least 20 rows.
drawn=$(tr -d '\n' <"$dir/dom.html" | sed -n "s/.*<tr id=\"d$opened\" class=\"diagram\">//p" | sed 's#</td></tr>.*##' |
    grep -o '<g class="row"' | wc -l)
[ "$drawn" -ge 20 ] || fail "transaction $opened opened with $drawn rows drawn, a purchase has at least 20"
browse "" --window-size=1300,900 --screenshot="$PWD/capture-page.png" 2>"$dir/log.txt" || fail "no screenshot"
browse "#tx=$opened" --window-size=1300,1400 --screenshot="$PWD/capture-transaction.png" 2>"$dir/log.txt" ||
    fail "no screenshot"
for png in capture-page.png capture-transaction.png; do
    [ "$(head -c 4 "$png" | od -An -c | tr -d ' ')" = "211PNG" ] || fail "$png is not a PNG"
done
echo "page loaded: $rows transactions, transaction $opened opened with $drawn rows, screenshots in $PWD"
