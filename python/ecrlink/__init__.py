# SPDX-License-Identifier: MIT
"""Talk to a card payment terminal from a cash register, over libecrlinkc."""

from ._terminal import (Answer, EcrError, Interrupted, Message, Recovered, Terminal, enable_log, find_transaction,
                        last_transaction, library_version, log_lines)

__all__ = ["Answer", "EcrError", "Interrupted", "Message", "Recovered", "Terminal", "enable_log", "find_transaction",
           "last_transaction", "library_version", "log_lines"]
