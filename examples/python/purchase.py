#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A register in Python asks the terminal for a purchase and prints the receipt and the answer.
    purchase.py serial:/dev/ttyUSB0?baud=115200 1250"""

import sys

import ecrlink


def main(address, amount):
    with ecrlink.Terminal(address) as terminal:
        answer = terminal.transaction(
            {1: 1, 4: int(amount)},  # operation: purchase; amount in cents
            on_status=lambda status: print("terminal:", status.get(2, b"").decode(errors="replace")))
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
