#!/bin/sh
# SPDX-License-Identifier: MIT
# The page of a captured purchase loads in headless Chromium without a console message, its script runs to the
# end, and a screenshot of it is taken (capture-page.png in the working directory).
#   capture_page_test.sh [EMULATOR...] ECRLINK      (the words are the command that runs the program)
set -u
command -v chromium >/dev/null || { echo "SKIPPED: chromium is not installed (apt-get install chromium)"; exit 77; }
dir=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$@" sim --tcp 0 --once >"$dir/sim.txt" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q listening "$dir/sim.txt" && break; sleep 0.05; done
address=$(grep -o '127.0.0.1:[0-9]*' "$dir/sim.txt") || fail "the simulated terminal did not start"
"$@" send "tcp:$address" --tag 2=PURCHASE --tag 4=u32:1250 --capture "$dir/capture" >/dev/null || fail "send"
"$@" decode --capture "$dir/capture" --html "$dir/page.html" >/dev/null || fail "decode"
! grep -Eq '(src|href)=' "$dir/page.html" || fail "the page refers to other files"

browse() {
    timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$(mktemp -d -p "$dir")" --enable-logging=stderr --v=0 "$@" "file://$dir/page.html"
}
browse --dump-dom >"$dir/dom.html" 2>"$dir/log.txt" || fail "chromium: $(tail -3 "$dir/log.txt")"
! grep CONSOLE "$dir/log.txt" || fail "the page logged to the console"
grep -q 'data-ready="1"' "$dir/dom.html" || fail "the page's script did not run to its end"
rows=$(grep -o '<g class="row"' "$dir/dom.html" | wc -l)
[ "$rows" -ge 20 ] || fail "$rows rows drawn, a purchase has at least 20"
browse --window-size=1240,1600 --screenshot="$PWD/capture-page.png" 2>"$dir/log.txt" || fail "no screenshot"
[ "$(head -c 4 capture-page.png | od -An -c | tr -d ' ')" = "211PNG" ] || fail "capture-page.png is not a PNG"
echo "page loaded: $rows rows, screenshot $PWD/capture-page.png"
