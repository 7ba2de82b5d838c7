#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A register in Python asks the terminal for a purchase and prints the receipt and the answer.
The purchase has a reference of its own and is kept in the journal ($REGISTER_JOURNAL, else
./register.journal); at start-up the register asks the journal what became of its last purchase.
    purchase.py serial:/dev/ttyUSB0?baud=115200 1250"""

import os
import sys
import time

import ecrlink


def recover(journal):
    """What became of the last purchase before this start."""
    if not os.path.exists(journal):
        return
    last = ecrlink.last_transaction(journal)
    if last.outcome == "not found":
        return
    print("last transaction %s: %s" % (last.reference, last.outcome))
    if last.outcome in ("sent, no answer", "answered, acknowledgement not delivered"):
        # The terminal may have taken the payment: look it up there; sending it again could charge twice.
        print("  check %s at the terminal; it is not sent again" % last.reference)


def main(address, amount):
    journal = os.environ.get("REGISTER_JOURNAL", "register.journal")
    recover(journal)
    with ecrlink.Terminal(address, journal=journal) as terminal:
        answer = terminal.transaction(
            {1: 1, 4: int(amount)},  # operation: purchase; amount in cents
            on_status=lambda status: print("terminal:", status.get(2, b"").decode(errors="replace")),
            reference="R-%d" % time.time())  # a real register takes its receipt number
    print("receipt:\n" + (answer.receipt or b"").decode(errors="replace"))
    for number, value in answer.tags.items():
        print("tag %d: %d bytes" % (number, len(value)))
    return 0 if answer.receipt else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: purchase.py ADDRESS AMOUNT_IN_CENTS")
    try:
        sys.exit(main(sys.argv[1], sys.argv[2]))
    except ecrlink.EcrError as error:
        sys.exit("purchase: %d %s" % (error.code, error.text))
