# SPDX-License-Identifier: MIT
"""`ecrlink serve` against `ecrlink sim`, over HTTP as a register or a script would use it.

ECRLINK_TOOL names the program."""

import http.client
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import unittest

TOOL = os.environ.get("ECRLINK_TOOL", "ecrlink")
PURCHASE = {"2": "PURCHASE", "4": "u32:1250"}
# Stops after the first status message for a while: long enough to be busy, or to be killed.
SLOW = 'ack\nstatus 2=PROCESSING\nsleep 2000\nreceipt 44 "SHOP\\nTOTAL 12.50\\n" 2\nsend 2=APPROVED 4=u32:echo\n'
QUICK = "ack\nsend 2=APPROVED 4=u32:echo\n"


def wait_until(what, check, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = check()
        if found:
            return found
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Rig:
    """A simulated terminal on TCP and a service on it, in a directory of their own."""

    def __init__(self, scenario="purchase", origins=(), options=()):
        self.dir = tempfile.TemporaryDirectory()
        self.scenario = scenario
        if "\n" in scenario:
            self.scenario = os.path.join(self.dir.name, "scenario")
            with open(self.scenario, "w") as f:
                f.write(scenario)
        self.options = list(options)
        for origin in origins:
            self.options += ["--allow-origin", origin]
        self.sim = self.start_sim(0)
        self.address = "tcp:" + self.sim_port
        self.serve = self.start_serve()

    def output(self, name):
        with open(os.path.join(self.dir.name, name)) as f:
            return f.read()

    def start(self, name, args, ready):
        with open(os.path.join(self.dir.name, name), "w") as log:
            process = subprocess.Popen([TOOL] + args, stdout=log, stderr=subprocess.STDOUT)
        wait_until(name + " to start", lambda: re.search(ready, self.output(name)))
        return process

    def start_sim(self, port):
        sim = self.start("sim.txt", ["sim", "--tcp", str(port), "--scenario", self.scenario], r"listening on 127.0.0.1:(\d+)")
        self.sim_port = re.search(r"listening on (127.0.0.1:\d+)", self.output("sim.txt")).group(1)
        return sim

    def start_serve(self):
        args = ["serve", self.address, "--listen", "127.0.0.1:0", "--journal", os.path.join(self.dir.name, "journal")]
        args += self.options
        serve = self.start("serve.txt", args, r"listening on 127.0.0.1:\d+")
        self.port = int(re.findall(r"listening on 127.0.0.1:(\d+)", self.output("serve.txt"))[-1])
        with open(os.path.join(self.dir.name, "journal", "token")) as f:
            self.token = f.read().strip()
        wait_until("the line to open", lambda: self.call("GET", "/v1/health")[1]["line"]["open"])
        return serve

    def call(self, method, path, body=None, headers=None, token=True):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        sent = {"Authorization": "Bearer " + self.token} if token else {}
        if body is not None and not isinstance(body, (str, bytes)):
            body, sent["Content-Type"] = json.dumps(body), "application/json"
        sent.update(headers or {})
        connection.request(method, path, body, sent)
        response = connection.getresponse()
        text = response.read().decode()
        connection.close()
        is_json = response.getheader("Content-Type", "").startswith("application/json")
        return response.status, json.loads(text) if is_json else text, response

    def pay(self, reference, tags=PURCHASE):
        status, body, _ = self.call("POST", "/v1/transactions", {"reference": reference, "tags": tags})
        assert status == 202, body
        return self.call("GET", "/v1/transactions/" + reference + "?wait=60")[1]

    def rss_kib(self):
        with open("/proc/%d/status" % self.serve.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def close(self):
        """Stops the service as systemd does; it must end cleanly (under a sanitizer: without a leak)."""
        self.sim.kill()
        self.sim.wait()
        stopped = self.serve.poll()
        if stopped is None:
            self.serve.send_signal(signal.SIGTERM)
            stopped = self.serve.wait(30)
        output = self.output("serve.txt")
        self.dir.cleanup()
        assert stopped in (0, -signal.SIGKILL), "the service ended with %s:\n%s" % (stopped, output)


class ServeTest(unittest.TestCase):
    def rig(self, *args, **kwargs):
        rig = Rig(*args, **kwargs)
        self.addCleanup(rig.close)
        return rig

    def test_refused_requests_never_reach_the_terminal(self):
        rig = self.rig(origins=["http://till.example"])
        good = {"reference": "R-1", "tags": PURCHASE}
        json_type = {"Content-Type": "application/json"}
        cases = [
            # name, method, path, body, headers, with token, expected status
            ("no token", "POST", "/v1/transactions", good, {}, False, 401),
            ("wrong token", "POST", "/v1/transactions", good, {"Authorization": "Bearer " + "0" * 64}, True, 401),
            ("foreign origin", "POST", "/v1/transactions", good, {"Origin": "http://evil.example"}, True, 403),
            ("rebound host", "POST", "/v1/transactions", good, {"Host": "evil.example:%d" % rig.port}, True, 421),
            ("host on another port", "GET", "/v1/health", None, {"Host": "127.0.0.1:1"}, True, 421),
            ("foreign preflight", "OPTIONS", "/v1/transactions", None,
             {"Origin": "http://evil.example", "Access-Control-Request-Method": "POST"}, False, 403),
            ("websocket without token", "GET", "/v1/events", None,
             {"Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
              "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Protocol": "ecrlink.v1, bearer.x"}, False, 401),
            ("malformed JSON", "POST", "/v1/transactions", '{"reference": "R-1",', json_type, True, 400),
            ("number beyond any type", "POST", "/v1/transactions", '{"reference": "R-1", "timeout_ms": 8E886}', json_type,
             True, 400),
            ("key twice", "POST", "/v1/transactions", '{"reference": "R-1", "reference": "R-2", "tags": {"2": "A"}}',
             json_type, True, 400),
            ("unknown field", "POST", "/v1/transactions", dict(good, amount=1250), {}, True, 400),
            ("time-out out of range", "POST", "/v1/transactions", dict(good, timeout_ms=0), {}, True, 400),
            ("number too large", "POST", "/v1/transactions", {"reference": "R-1", "tags": {"4": "u32:4294967296"}}, {},
             True, 400),
            ("tag number not a number", "POST", "/v1/transactions", {"reference": "R-1", "tags": {"2=x": "A"}}, {}, True, 400),
            ("reference with a slash", "POST", "/v1/transactions", {"reference": "R/1", "tags": PURCHASE}, {}, True, 400),
            ("not JSON", "POST", "/v1/transactions", "reference=R-1", {"Content-Type": "text/plain"}, True, 415),
            ("body too large", "POST", "/v1/transactions", '{"reference": "' + "x" * 70000 + '"}', json_type, True, 413),
            ("unknown query", "GET", "/v1/transactions/R-1?debug=1", None, {}, True, 400),
        ]
        for name, method, path, body, headers, token, expected in cases:
            with self.subTest(name):
                status, answer, _ = rig.call(method, path, body, headers, token)
                self.assertEqual(status, expected, answer)
                if status >= 400:
                    self.assertEqual(len(answer["error"].splitlines()), 1, answer)
        status, _, response = rig.call("OPTIONS", "/v1/transactions", None,
                                       {"Origin": "http://till.example", "Access-Control-Request-Method": "POST"}, False)
        self.assertEqual((status, response.getheader("Access-Control-Allow-Origin")), (204, "http://till.example"))
        self.assertEqual(rig.call("GET", "/v1/health", None, {"Host": "localhost:%d" % rig.port})[0], 200)
        self.assertEqual(rig.call("GET", "/v1/transactions/R-1")[0], 404)
        # Nothing went to the terminal: it printed no frame from the register.
        self.assertNotIn("<-", rig.output("sim.txt"))
        self.assertIn('ecrlink_requests_refused_total{status="401"} 3', rig.call("GET", "/metrics")[1])

    def test_purchase_busy_and_reference_used_twice(self):
        rig = self.rig(SLOW)
        self.assertEqual(rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})[0], 202)
        status, body, _ = rig.call("POST", "/v1/transactions", {"reference": "R-2", "tags": PURCHASE})
        self.assertEqual((status, body.get("running")), (409, "R-1"))
        record = rig.call("GET", "/v1/transactions/R-1?wait=60")[1]
        self.assertEqual((record["outcome"], record["answer"]), ("answered", {"2": "APPROVED", "4": "u32:1250"}))
        self.assertEqual((record["status_messages"], record["receipt"]), ([{"2": "PROCESSING"}], "SHOP\nTOTAL 12.50\n"))
        # A register that asks again after a lost connection gets the outcome, not a second charge.
        self.assertEqual(rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})[0], 409)
        self.assertEqual(rig.output("sim.txt").count('2="PURCHASE"'), 1)
        self.assertEqual(rig.call("GET", "/v1/transactions/R-2")[0], 404)
        self.assertIn('ecrlink_transactions_total{outcome="answered"} 1', rig.call("GET", "/metrics")[1])

    def test_terminal_restarted_line_opened_again(self):
        rig = self.rig(QUICK)
        self.assertEqual(rig.pay("R-1")["outcome"], "answered")
        rig.sim.kill()
        rig.sim.wait()
        wait_until("the line to be lost", lambda: not rig.call("GET", "/v1/health")[1]["line"]["open"])
        self.assertEqual(rig.call("POST", "/v1/transactions", {"reference": "R-2", "tags": PURCHASE})[0], 503)
        wait_until("attempts to open it again", lambda: rig.call("GET", "/v1/health")[1]["line"]["reconnect_attempts"] > 0)
        rig.sim = rig.start_sim(rig.sim_port.split(":")[1])
        wait_until("the line to open again", lambda: rig.call("GET", "/v1/health")[1]["line"]["open"], 40)
        self.assertEqual(rig.pay("R-3")["outcome"], "answered")
        self.assertIn("ecrlink_line_reconnects_total 1", rig.call("GET", "/metrics")[1])
        self.assertIn("line lost: 105", rig.output("serve.txt"))

    def test_service_killed_mid_transaction_tells_the_truth_after_restart(self):
        rig = self.rig(SLOW)
        rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})
        wait_until("the status message", lambda: rig.call("GET", "/v1/transactions/R-1")[1]["status_messages"])
        rig.serve.send_signal(signal.SIGKILL)
        rig.serve.wait()
        # The terminal took the request (ACK) and its answer went unacknowledged.
        wait_until("the terminal to give up", lambda: "the register went away" in rig.output("sim.txt"))
        sim = rig.output("sim.txt")
        self.assertRegex(sim, r'<- STX.*2="PURCHASE"[^\n]*\n-> ACK')
        self.assertNotIn("dialogue complete", sim)
        rig.serve = rig.start_serve()
        record = rig.call("GET", "/v1/transactions/R-1")[1]
        self.assertEqual((record["outcome"], record["request"]), ("sent, no answer", PURCHASE))
        self.assertEqual(record["status_messages"], [{"2": "PROCESSING"}])
        self.assertEqual(rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})[0], 409)

    def test_outcomes_from_the_journal_alike_before_and_after_a_restart(self):
        cases = [
            # scenario of the terminal, outcome, result, may the reference be posted again
            ("nak:3", "failed", 303, True),
            ("eot", "failed", 304, True),
            ("drop", "sent, no answer", 105, False),
            ("nak:2", "answered", 0, False),
        ]
        for scenario, outcome, result, again in cases:
            with self.subTest(scenario):
                rig = self.rig(scenario)
                record = rig.pay("R-1")
                self.assertEqual((record["outcome"], record["result"]), (outcome, result), record)
                rig.serve.send_signal(signal.SIGTERM)
                self.assertEqual(rig.serve.wait(30), 0)
                rig.serve = rig.start_serve()
                self.assertEqual(rig.call("GET", "/v1/transactions/R-1")[1], record)
                status = rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})[0]
                self.assertEqual(status, 202 if again else 409)

    def test_cancel_ends_the_run_and_the_terminal_hears_it_masked_values_stay_inside(self):
        rig = self.rig(SLOW, options=["--mask", "4"])
        rig.call("POST", "/v1/transactions", {"reference": "R-1", "tags": PURCHASE})
        wait_until("the status message", lambda: rig.call("GET", "/v1/transactions/R-1")[1]["status_messages"])
        self.assertEqual(rig.call("POST", "/v1/transactions/R-1/cancel")[0], 202)
        record = rig.call("GET", "/v1/transactions/R-1?wait=30")[1]
        self.assertEqual((record["outcome"], record["result"]), ("sent, no answer", 322))
        wait_until("the terminal to get EOT", lambda: "<- EOT" in rig.output("sim.txt"))
        self.assertEqual(rig.call("POST", "/v1/transactions/R-1/cancel")[0], 409)
        self.assertEqual(record["request"], {"2": "PURCHASE", "4": "****"})
        self.assertIn("4=****", rig.output("serve.txt"))
        self.assertNotIn("1250", rig.output("serve.txt"))
        with open(os.path.join(rig.dir.name, "journal", "journal"), "rb") as journal:
            self.assertNotIn(b"\x00\x00\x04\xe2", journal.read())

    def test_thousand_transactions_in_flat_memory(self):
        sanitized = bool(os.environ.get("ECRLINK_SANITIZE"))
        count = 200 if sanitized else 1000
        rig = self.rig(QUICK)
        for n in range(50):
            rig.pay("W-%d" % n)
        before = rig.rss_kib()
        for n in range(count):
            self.assertEqual(rig.pay("T-%d" % n)["outcome"], "answered")
        after = rig.rss_kib()
        print("\nservice RSS before %d transactions: %d KiB, after: %d KiB" % (count, before, after))
        if not sanitized:
            self.assertLess(after - before, 1024)


if __name__ == "__main__":
    unittest.main(verbosity=2)
