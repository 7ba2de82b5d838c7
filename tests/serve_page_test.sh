#!/bin/sh
# SPDX-License-Identifier: MIT
# The example web register (examples/web/index.html) in headless Chromium pays 12.50 through
# `ecrlink serve` against the simulated terminal: the status lines, the final answer and the
# receipt reach the page, over its WebSocket and its long poll; a screenshot is left in
# serve-page.png in the working directory.
#   serve_page_test.sh ECRLINK SOURCE_DIR
set -u
tool=$1 source=$2
command -v chromium >/dev/null || { echo "SKIPPED: chromium is not installed (apt-get install chromium)"; exit 77; }
dir=$(mktemp -d)
pids=
trap 'kill $pids 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*"; for f in "$dir"/*.txt; do echo "--- $f"; cat "$f"; done; exit 1; }
wait_for() { for _ in $(seq 100); do grep -q "$2" "$1" && return 0; sleep 0.05; done; fail "no '$2' in $1"; }

cat >"$dir/scenario" <<'END'
ack
status 2=PROCESSING
sleep 1000
status 1=u32:13 2="INSERT CARD"
receipt 44 "ECRLINK TEST SHOP\nTOTAL 12.50\nAPPROVED\n" 2
send 2=APPROVED 3=A1B2C3 4=u32:echo
END
"$tool" sim --tcp 0 --scenario "$dir/scenario" >"$dir/sim.txt" 2>&1 &
pids="$pids $!"
wait_for "$dir/sim.txt" listening
mkdir "$dir/www"
cp "$source/examples/web/index.html" "$source/tests/serve_page_drive.html" "$dir/www/"
python3 -u -m http.server --bind 127.0.0.1 --directory "$dir/www" 0 >"$dir/web.txt" 2>&1 &
pids="$pids $!"
wait_for "$dir/web.txt" "port [0-9]"
web="http://127.0.0.1:$(grep -o 'port [0-9]*' "$dir/web.txt" | grep -o '[0-9]*')"
"$tool" serve "tcp:$(grep -o '127.0.0.1:[0-9]*' "$dir/sim.txt")" --listen 127.0.0.1:0 --socket none \
    --journal "$dir/journal" --allow-origin "$web" >"$dir/serve.txt" 2>&1 &
pids="$pids $!"
wait_for "$dir/serve.txt" "line open"
service="http://$(grep -o 'listening on 127.0.0.1:[0-9]*' "$dir/serve.txt" | cut -d' ' -f3)"

# Virtual time stands still while the page's long poll waits for the outcome.
timeout 90 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$dir/profile" --virtual-time-budget=60000 \
    --window-size=900,1000 --screenshot="$PWD/serve-page.png" --dump-dom \
    "$web/serve_page_drive.html#service=$service&token=$(cat "$dir/journal/token")" >"$dir/dom.html" 2>"$dir/chromium.log" ||
    fail "chromium: $(tail -3 "$dir/chromium.log")"
grep -q 'data-outcome="answered"' "$dir/dom.html" || fail "the page did not see the purchase answered"
for shown in PROCESSING 'INSERT CARD' 'TOTAL 12.50' APPROVED A1B2C3; do
    grep -q "$shown" "$dir/dom.html" || fail "the page does not show $shown"
done
grep -q 'data-events="[1-9]' "$dir/dom.html" || fail "no event reached the page over its WebSocket"
grep -q '<- STX.*2="PURCHASE" 4=u32:1250' "$dir/sim.txt" || fail "the terminal did not get 12.50"
grep -q 'answered (0 success): 2=APPROVED' "$dir/serve.txt" || fail "the service did not log the answer"
reference=$(grep -o 'transaction WEB-[0-9-]*' "$dir/serve.txt" | head -1 | cut -d' ' -f2)
record=$(curl -sf -H "Authorization: Bearer $(cat "$dir/journal/token")" "$service/v1/transactions/$reference") ||
    fail "no record of $reference"
for expected in '"outcome":"answered"' 'INSERT CARD' 'TOTAL 12.50' '"2":"APPROVED"'; do
    echo "$record" | grep -q "$expected" || fail "the record lacks $expected: $record"
done
[ "$(head -c 4 serve-page.png | od -An -c | tr -d ' ')" = "211PNG" ] || fail "serve-page.png is not a PNG"
echo "the page paid 12.50 ($reference): $record"
