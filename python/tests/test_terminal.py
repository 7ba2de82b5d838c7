"""The package against `ecrlink sim` on a pseudo-terminal ($ECRLINK_TOOL names the program)."""

import os
import re
import subprocess
import tempfile
import threading
import time
import unittest

import ecrlink

PAUSE = "ack\nstatus 2=WAIT\nsleep 1500\nreceipt 44 \"SHOP\\nTOTAL 12.50\\n\" 2\nsend 2=APPROVED 4=u32:echo\n"
QUIET = "ack\nsleep 20000\nsend 2=APPROVED\n"


class Sim:
    """The simulated terminal playing `scenario` (a built-in name or a script's text)."""

    def __init__(self, scenario):
        self.files = []
        if "\n" in scenario:
            scenario = self._file(scenario)
        self.output = self._file("")
        with open(self.output, "w") as out:
            self.process = subprocess.Popen([os.environ.get("ECRLINK_TOOL", "ecrlink"), "sim", "--pty", "--once",
                                             "--scenario", scenario], stdout=out, stderr=subprocess.STDOUT)
        for _ in range(100):
            with open(self.output) as out:
                found = re.search(r"listening on (\S+)", out.read())
            if found:
                self.address = "serial:" + found.group(1)
                return
            time.sleep(0.05)
        self.close()
        raise RuntimeError("the simulated terminal did not start")

    def _file(self, text):
        handle, path = tempfile.mkstemp(prefix="ecrlink_sim_")
        os.write(handle, text.encode())
        os.close(handle)
        self.files.append(path)
        return path

    def close(self):
        self.process.kill()
        self.process.wait()
        for path in self.files:
            os.remove(path)


class TerminalTest(unittest.TestCase):
    def transaction(self, scenario, **options):
        sim = Sim(scenario)
        self.addCleanup(sim.close)
        with ecrlink.Terminal(sim.address) as terminal:
            return terminal.transaction({1: 1, 2: "PURCHASE", 4: 1250}, **options)

    def test_purchase_with_status_receipt_and_answer(self):
        shown = []
        answer = self.transaction("purchase", on_status=shown.append)
        self.assertEqual(answer.tags[2], b"APPROVED")
        self.assertEqual(answer.number(4), 1250)
        self.assertEqual([s[2] for s in answer.status], [b"PROCESSING", b"INSERT CARD"])
        self.assertEqual(shown, answer.status)
        self.assertTrue(answer.receipt)

    def test_failures_raise_the_library_code(self):
        for scenario, code in [("nak:3", 303), ("eot", 304)]:
            with self.subTest(scenario), self.assertRaises(ecrlink.EcrError) as caught:
                self.transaction(scenario)
            self.assertEqual(caught.exception.code, code)
            self.assertEqual(caught.exception.text, {303: "No Receive Attempts.", 304: "EOT Received."}[code])

    def test_pause_before_the_answer(self):
        answer = self.transaction(PAUSE, idle=5)
        self.assertEqual((answer.tags[2], answer.receipt), (b"APPROVED", b"SHOP\nTOTAL 12.50\n"))
        with self.assertRaises(ecrlink.EcrError) as caught:
            self.transaction(PAUSE, idle=0.5)
        self.assertEqual(caught.exception.code, 320)

    def test_cancel_from_another_thread(self):
        sim = Sim(QUIET)
        self.addCleanup(sim.close)
        with ecrlink.Terminal(sim.address) as terminal:
            threading.Timer(0.3, terminal.cancel).start()
            started = time.monotonic()
            with self.assertRaises(ecrlink.EcrError) as caught:
                terminal.transaction({1: 1})
        self.assertEqual(caught.exception.code, 322)
        self.assertLess(time.monotonic() - started, 3)

    def test_single_steps_and_bad_address(self):
        sim = Sim("purchase")
        self.addCleanup(sim.close)
        with ecrlink.Terminal(sim.address) as terminal:
            terminal.send(ecrlink.Message({1: 1, 4: 1250}))
            received = []
            while not received or received[-1].is_status or 2 not in received[-1]:
                try:
                    received.append(terminal.receive())
                except ecrlink.EcrError as error:
                    self.assertEqual(error.code, 302)  # quiet for 250 ms
        self.assertEqual(received[-1][2], b"APPROVED")
        with self.assertRaises(ecrlink.EcrError) as caught:
            ecrlink.Terminal("nowhere:1")
        self.assertEqual(caught.exception.code, 102)


if __name__ == "__main__":
    unittest.main()
