# SPDX-License-Identifier: MIT
"""The package against `ecrlink sim` on a pseudo-terminal ($ECRLINK_TOOL names the program)."""

import gc
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import ecrlink

PAUSE = 'ack\nstatus 2=WAIT\nsleep 1500\nreceipt 44 "SHOP\\nTOTAL 12.50\\n" 2\nsend 2=APPROVED 4=u32:echo\n'
QUIET = "ack\nsleep 20000\nsend 2=APPROVED\n"
# A register that a person stops with Ctrl-C while it shows the terminal's status (slowly, with "slow").
REGISTER = """
import sys, time, ecrlink
def shown(status):
    print("status", flush=True)
    if sys.argv[2] == "slow":
        time.sleep(3)
try:
    ecrlink.Terminal(sys.argv[1]).transaction({1: 1}, on_status=shown)
except ecrlink.Interrupted as stopped:
    print("interrupted", stopped.code, stopped.answer and stopped.answer[2], flush=True)
"""


class TerminalTest(unittest.TestCase):
    def terminal(self, scenario):
        """A Terminal on a new simulated terminal playing `scenario` (a built-in name or a script)."""
        terminal = ecrlink.Terminal(self.simulator(scenario))
        self.addCleanup(terminal.close)
        return terminal

    def simulator(self, scenario):
        """The address of a new simulated terminal playing `scenario` once; self.sim is its process."""
        if "\n" in scenario:
            script = tempfile.NamedTemporaryFile("w", prefix="ecrlink_sim_")
            script.write(scenario)
            script.flush()
            self.addCleanup(script.close)
            scenario = script.name
        sim = subprocess.Popen([os.environ.get("ECRLINK_TOOL", "ecrlink"), "sim", "--pty", "--once", "--scenario",
                                scenario], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(lambda: (sim.kill(), sim.wait(), sim.stdout.close()))
        self.sim = sim
        return "serial:" + re.search(r"listening on (\S+)", sim.stdout.readline()).group(1)

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
        receipts = [message.receipt for message in received if message.receipt]
        self.assertEqual(len(receipts), 1)
        self.assertTrue(receipts[0].startswith(b"ECRLINK TEST SHOP") and receipts[0].endswith(b"THANK YOU\n"))

    def test_ctrl_c_cancels_at_once_and_keeps_an_answer_that_arrived(self):
        for mode, scenario, printed, eot in [("quick", "ack\nstatus 2=WAIT\nignore\n", "interrupted 322 None", True),
                                             ("slow", "ack\nstatus 2=WAIT\nsend 2=APPROVED\n", "interrupted 0 b'APPROVED'", False)]:
            with self.subTest(mode):
                register = subprocess.Popen([sys.executable, "-c", REGISTER, self.simulator(scenario), mode],
                                            stdout=subprocess.PIPE, text=True)
                self.assertEqual(register.stdout.readline(), "status\n")
                time.sleep(0.2)
                register.send_signal(signal.SIGINT)
                started = time.monotonic()
                output = register.communicate(timeout=20)[0]
                # At once, not at the idle time-out of 90 s; the margin is for a loaded machine.
                self.assertLess(time.monotonic() - started, 10)
                self.assertEqual(output, printed + "\n")
                self.assertEqual("<- EOT" in self.sim.communicate(timeout=20)[0], eot)

    def test_close_from_another_thread_ends_the_transaction_first(self):
        terminal = self.terminal(QUIET)
        failures = []

        def purchase():
            try:
                terminal.transaction({1: 1})
            except ecrlink.EcrError as failure:
                failures.append(failure.code)

        buyer = threading.Thread(target=purchase)
        buyer.start()
        time.sleep(0.3)
        terminal.cancel(), terminal.close(), terminal.cancel()
        buyer.join(5)
        self.assertEqual(failures, [322])

    def test_a_forgotten_terminal_gives_its_device_back(self):
        address = self.simulator("purchase")
        ecrlink.Terminal(address)
        gc.collect()
        ecrlink.Terminal(address).close()

    def test_journal_tells_after_a_restart_what_became_of_a_transaction(self):
        directory = tempfile.TemporaryDirectory(prefix="ecrlink_")
        self.addCleanup(directory.cleanup)
        journal = os.path.join(directory.name, "terminal.journal")
        with ecrlink.Terminal(self.simulator("purchase"), journal=journal) as terminal:
            terminal.transaction({1: 1, 4: 1250}, reference="R-0042")
        for last in (ecrlink.last_transaction(journal), ecrlink.find_transaction(journal, "R-0042")):
            self.assertEqual((last.outcome, last.reference, last.result), ("answered", "R-0042", 0))
            self.assertEqual((last.answer[2], last.answer.number(4), [s[2] for s in last.status]),
                             (b"APPROVED", 1250, [b"PROCESSING", b"INSERT CARD"]))
            self.assertTrue(last.receipt.endswith(b"THANK YOU\n"))
        self.assertEqual(ecrlink.find_transaction(journal, "R-0043").outcome, "not found")
        with self.assertRaisesRegex(ecrlink.EcrError, "^103 .*missing: No such file"):
            ecrlink.last_transaction(journal + ".missing")

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
