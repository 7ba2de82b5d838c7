# SPDX-License-Identifier: MIT
"""The C functions of libecrlinkc with their ctypes signatures."""

import ctypes
import os
from ctypes import POINTER, c_char_p, c_int, c_size_t, c_ubyte, c_uint, c_ulonglong, c_void_p

LIBRARY = os.environ.get("ECRLINK_LIBRARY") or "libecrlinkc.so.1"
lib = ctypes.CDLL(LIBRARY)

STATUS_FN = ctypes.CFUNCTYPE(None, c_void_p, c_void_p)
LOG_FN = ctypes.CFUNCTYPE(None, c_void_p, c_char_p, c_size_t)

_u = c_uint
_handle_out = POINTER(c_void_p)
_bytes = POINTER(c_ubyte)
_SIGNATURES = {
    "ecrlink_result_text": (c_char_p, [_u]),
    "ecrlink_version": (c_char_p, []),
    "ecrlink_log_enable": (None, [c_int]),
    "ecrlink_log_drain": (c_size_t, [LOG_FN, c_void_p]),
    "ecrlink_message_new": (_u, [_handle_out]),
    "ecrlink_message_release": (None, [c_void_p]),
    "ecrlink_message_receipt_complete": (c_int, [c_void_p]),
    "ecrlink_message_set_bytes": (_u, [c_void_p, _u, c_char_p, _u]),
    "ecrlink_message_set_number": (_u, [c_void_p, _u, _u]),
    "ecrlink_message_count": (_u, [c_void_p, POINTER(_u)]),
    "ecrlink_message_tag_at": (_u, [c_void_p, _u, _handle_out]),
    "ecrlink_tag_number": (_u, [c_void_p, POINTER(_u)]),
    "ecrlink_tag_bytes": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
    "ecrlink_proto_new": (_u, [_handle_out]),
    "ecrlink_proto_release": (None, [c_void_p]),
    "ecrlink_proto_use_address": (_u, [c_void_p, c_char_p]),
    "ecrlink_proto_open": (_u, [c_void_p, c_int]),
    "ecrlink_proto_close": (_u, [c_void_p]),
    "ecrlink_proto_last_error": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
    "ecrlink_proto_send_message": (_u, [c_void_p, c_void_p]),
    "ecrlink_proto_recv_message": (_u, [c_void_p, c_void_p]),
    "ecrlink_dialogue_set_timeouts": (_u, [c_void_p, _u, _u]),
    "ecrlink_dialogue_on_status": (_u, [c_void_p, STATUS_FN, c_void_p]),
    "ecrlink_dialogue_run": (_u, [c_void_p, c_void_p, c_void_p]),
    "ecrlink_dialogue_run_reference": (_u, [c_void_p, c_void_p, c_void_p, c_char_p]),
    "ecrlink_dialogue_cancel": (_u, [c_void_p]),
    "ecrlink_dialogue_receipt": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
    "ecrlink_proto_use_journal": (_u, [c_void_p, c_char_p, c_ulonglong]),
    "ecrlink_transaction_new": (_u, [_handle_out]),
    "ecrlink_transaction_release": (None, [c_void_p]),
    "ecrlink_journal_last": (_u, [c_char_p, c_void_p]),
    "ecrlink_journal_find": (_u, [c_char_p, c_char_p, c_void_p]),
    "ecrlink_transaction_outcome": (_u, [c_void_p, POINTER(_u)]),
    "ecrlink_outcome_text": (c_char_p, [_u]),
    "ecrlink_transaction_reference": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
    "ecrlink_transaction_result": (_u, [c_void_p, POINTER(_u)]),
    "ecrlink_transaction_answer": (_u, [c_void_p, c_void_p]),
    "ecrlink_transaction_receipt": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
    "ecrlink_transaction_status_count": (_u, [c_void_p, POINTER(_u)]),
    "ecrlink_transaction_status_at": (_u, [c_void_p, _u, c_void_p]),
    "ecrlink_transaction_error": (_u, [c_void_p, _bytes, c_size_t, POINTER(c_size_t)]),
}
for _name, (_restype, _argtypes) in _SIGNATURES.items():
    _function = getattr(lib, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes


def copy_out(function, *args):
    """Bytes from a copy-out function of the C API: asks the size, then copies."""
    length = c_size_t(0)
    rc = function(*args, None, 0, ctypes.byref(length))
    if rc not in (0, 204):
        return rc, b""
    buffer = (c_ubyte * (length.value + 1))()  # room for a text's terminator
    rc = function(*args, buffer, len(buffer), ctypes.byref(length))
    return rc, bytes(buffer[: length.value])
