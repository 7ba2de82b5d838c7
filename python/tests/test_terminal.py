# SPDX-License-Identifier: MIT
"""The package against `ecrlink sim` on a pseudo-terminal ($ECRLINK_TOOL names the program)."""

import os
import re
import subprocess
import tempfile
import threading
import time
import unittest

import ecrlink

PAUSE = 'ack\nstatus 2=WAIT\nsleep 1500\nreceipt 44 "SHOP\\nTOTAL 12.50\\n" 2\nsend 2=APPROVED 4=u32:echo\n'
QUIET = "ack\nsleep 20000\nsend 2=APPROVED\n"


class TerminalTest(unittest.TestCase):
    def terminal(self, scenario):
        """A Terminal on a new simulated terminal playing `scenario` (a built-in name or a script)."""
        if "\n" in scenario:
            script = tempfile.NamedTemporaryFile("w", prefix="ecrlink_sim_")
            script.write(scenario)
            script.flush()
            self.addCleanup(script.close)
            scenario = script.name
        sim = subprocess.Popen([os.environ.get("ECRLINK_TOOL", "ecrlink"), "sim", "--pty", "--once", "--scenario",
                                scenario], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(lambda: (sim.kill(), sim.wait(), sim.stdout.close()))
        address = re.search(r"listening on (\S+)", sim.stdout.readline()).group(1)
        terminal = ecrlink.Terminal("serial:" + address)
        self.addCleanup(terminal.close)
        return terminal

    def transaction(self, scenario, **options):
        return self.terminal(scenario).transaction({1: 1, 2: "PURCHASE", 4: 1250}, **options)

    def test_purchase_with_status_receipt_and_answer(self):
        shown = []
        answer = self.transaction("purchase", on_status=shown.append)
        self.assertEqual((answer.tags[2], answer.number(4)), (b"APPROVED", 1250))
        self.assertEqual([s[2] for s in answer.status], [b"PROCESSING", b"INSERT CARD"])
        self.assertEqual(shown, answer.status)
        self.assertIn(b"APPROVED", answer.receipt)

    def test_failures_raise_the_library_code(self):
        for scenario, code, text, options in [("nak:3", 303, "No Receive Attempts.", {}),
                                              ("eot", 304, "EOT Received.", {}),
                                              (PAUSE, 320, None, {"idle": 0.5})]:
            with self.subTest(scenario), self.assertRaises(ecrlink.EcrError) as caught:
                self.transaction(scenario, **options)
            self.assertEqual(caught.exception.code, code)
            self.assertEqual(caught.exception.text, text or ecrlink.EcrError(code).text)

    def test_pause_before_the_answer(self):
        answer = self.transaction(PAUSE, idle=5)
        self.assertEqual((answer.tags[2], answer.receipt), (b"APPROVED", b"SHOP\nTOTAL 12.50\n"))

    def test_cancel_from_another_thread(self):
        terminal = self.terminal(QUIET)
        threading.Timer(0.3, terminal.cancel).start()
        started = time.monotonic()
        with self.assertRaises(ecrlink.EcrError) as caught:
            terminal.transaction({1: 1})
        self.assertEqual(caught.exception.code, 322)
        self.assertLess(time.monotonic() - started, 3)

    def test_single_steps(self):
        terminal = self.terminal("purchase")
        terminal.send(ecrlink.Message({1: 1, 4: 1250}))
        received = []
        while not received or received[-1].is_status or 2 not in received[-1]:
            try:
                received.append(terminal.receive())
            except ecrlink.EcrError as error:
                self.assertEqual(error.code, 302)  # quiet for 250 ms
        self.assertEqual(received[-1][2], b"APPROVED")

    def test_open_failure_tells_why_and_the_library_logs_it(self):
        ecrlink.enable_log(1)
        self.addCleanup(ecrlink.enable_log, 0)
        with self.assertRaises(ecrlink.EcrError) as caught:
            ecrlink.Terminal("serial:/dev/ecrlink-no-such-device")
        self.assertEqual(caught.exception.code, 103)
        self.assertIn("No such file", caught.exception.text)
        self.assertTrue(any(line.endswith(" error: communication cannot open") for line in ecrlink.log_lines()))


if __name__ == "__main__":
    unittest.main()
