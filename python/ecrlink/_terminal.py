# SPDX-License-Identifier: MIT
"""Terminal, Message and EcrError: the register's side of one payment terminal."""

import ctypes
from collections.abc import MutableMapping
from ctypes import byref, c_size_t, c_uint, c_void_p

from . import _capi
from ._capi import lib

_STATUS_MESSAGE = 312


class EcrError(Exception):
    """A failure of the library: `code` is its result code, `text` what it means."""

    def __init__(self, code, text=None):
        self.code = code
        self.text = text or lib.ecrlink_result_text(code).decode()
        super().__init__("%d %s" % (code, self.text))


def _check(rc, reason=""):
    if rc != 0:
        text = lib.ecrlink_result_text(rc).decode()
        raise EcrError(rc, "%s: %s" % (text, reason) if reason else text)


def library_version():
    """Version of the libecrlinkc in use, such as "1.1.0"."""
    return lib.ecrlink_version().decode()


def enable_log(level=1):
    """Queue the library's log lines up to `level` (0 stops); take them with log_lines()."""
    lib.ecrlink_log_enable(level)


def log_lines():
    """The log lines queued since the last call, oldest first."""
    lines = []
    sink = _capi.LOG_FN(lambda user, line, length: lines.append(line.decode(errors="replace")))
    lib.ecrlink_log_drain(sink, None)
    return lines


class Message(MutableMapping):
    """A message: tag number -> value. Values set are str (text), bytes, or int
    (a 32-bit number, stored most significant byte first); values received are bytes."""

    def __init__(self, tags=None, is_status=False):
        self._tags = {}
        self.is_status = is_status
        self.update(tags or {})

    def __getitem__(self, number):
        return self._tags[number]

    def __setitem__(self, number, value):
        if not isinstance(number, int) or not 0 <= number <= 0xFFFFFFFF:
            raise ValueError("tag number must be a 32-bit unsigned int: %r" % (number,))
        if isinstance(value, int) and not 0 <= value <= 0xFFFFFFFF:
            raise ValueError("tag %d: number must fit 32 bits unsigned: %d" % (number, value))
        if not isinstance(value, (str, bytes, bytearray, int)):
            raise TypeError("tag %d: value must be str, bytes or int" % number)
        self._tags[number] = bytes(value) if isinstance(value, bytearray) else value

    def __delitem__(self, number):
        del self._tags[number]

    def __iter__(self):
        return iter(sorted(self._tags))

    def __len__(self):
        return len(self._tags)

    def __repr__(self):
        return "%s(%r)" % (type(self).__name__, dict(self))

    @property
    def tags(self):
        return dict(self)

    def number(self, tag):
        """The number in `tag` read as the terminal sends numbers (least significant byte first)."""
        if tag not in self._tags:
            raise EcrError(201)
        value = self._tags[tag]
        if isinstance(value, int):
            value = value.to_bytes(4, "big")
        elif isinstance(value, str):
            value = value.encode()
        if not value:
            raise EcrError(205)
        if len(value) != 4:
            raise EcrError(203)
        return int.from_bytes(value, "little")


class Answer(Message):
    """The final answer of a transaction, with the receipt (bytes or None) and the
    status messages seen on the way (each a dict of tags)."""

    def __init__(self, tags, receipt, status):
        super().__init__(tags)
        self.receipt = receipt
        self.status = status


class _Native:
    """A message of the library for the length of a with-block."""

    def __init__(self, message=None):
        self.handle = c_void_p()
        _check(lib.ecrlink_message_new(byref(self.handle)))
        try:
            for number, value in (message or {}).items():
                if isinstance(value, int):
                    _check(lib.ecrlink_message_set_number(self.handle, number, value))
                else:
                    data = value.encode() if isinstance(value, str) else bytes(value)
                    _check(lib.ecrlink_message_set_bytes(self.handle, number, data, len(data)))
        except BaseException:
            self.release()
            raise

    def __enter__(self):
        return self.handle

    def __exit__(self, *exc):
        self.release()

    def release(self):
        lib.ecrlink_message_release(self.handle)
        self.handle = c_void_p()


def _tags_of(handle):
    count = c_uint(0)
    _check(lib.ecrlink_message_count(handle, byref(count)))
    tags = {}
    for index in range(count.value):
        tag, number = c_void_p(), c_uint(0)
        _check(lib.ecrlink_message_tag_at(handle, index, byref(tag)))
        _check(lib.ecrlink_tag_number(tag, byref(number)))
        rc, value = _capi.copy_out(lib.ecrlink_tag_bytes, tag)
        tags[number.value] = value  # a tag without value reads as b""
    return tags


class Terminal:
    """One payment terminal at an address such as "serial:/dev/ttyUSB0?baud=115200"
    or "tcp:192.168.1.20:5000", opened at once. Use it from one thread; only
    cancel() may come from another."""

    def __init__(self, address, flag=True):
        self._proto = c_void_p()
        _check(lib.ecrlink_proto_new(byref(self._proto)))
        try:
            _check(lib.ecrlink_proto_use_address(self._proto, address.encode()), self._reason())
            _check(lib.ecrlink_proto_open(self._proto, 1 if flag else 0), self._reason())
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Closes the line and releases the library's objects; calling it again does nothing."""
        if self._proto:
            lib.ecrlink_proto_close(self._proto)
            lib.ecrlink_proto_release(self._proto)
            self._proto = c_void_p()

    def _handle(self):
        if not self._proto:
            raise EcrError(314, "terminal closed")
        return self._proto

    def _reason(self):
        return _capi.copy_out(lib.ecrlink_proto_last_error, self._proto)[1].decode(errors="replace")

    def send(self, message):
        """Sends one message (a Message or a dict); returns once the terminal acknowledged it."""
        with _Native(message) as handle:
            _check(lib.ecrlink_proto_send_message(self._handle(), handle))

    def receive(self):
        """Receives one message; `is_status` tells a status message. EcrError 302 when
        no frame started within 250 ms: call again while the terminal is busy."""
        with _Native() as handle:
            rc = lib.ecrlink_proto_recv_message(self._handle(), handle)
            if rc not in (0, _STATUS_MESSAGE):
                _check(rc)
            return Message(_tags_of(handle), is_status=rc == _STATUS_MESSAGE)

    def transaction(self, tags, on_status=None, idle=None, timeout=None):
        """Sends the request `tags` and waits for the final answer, calling
        on_status(dict) with each status message on this thread. `idle` (no
        frame from the terminal) and `timeout` (the whole transaction) are in
        seconds; None keeps the library's defaults (90 and 300)."""
        proto = self._handle()
        millis = lambda seconds: 0 if seconds is None else max(1, int(seconds * 1000))
        _check(lib.ecrlink_dialogue_set_timeouts(proto, millis(idle), millis(timeout)))
        seen, failures = [], []

        def status(user, handle):
            try:
                seen.append(_tags_of(handle))
                if on_status:
                    on_status(seen[-1])
            except BaseException as failure:  # cannot cross the C library: end the run, raise afterwards
                failures.append(failure)
                lib.ecrlink_dialogue_cancel(proto)

        handler = _capi.STATUS_FN(status)
        _check(lib.ecrlink_dialogue_on_status(proto, handler, None))
        try:
            with _Native(tags) as request, _Native() as answer:
                rc = lib.ecrlink_dialogue_run(proto, request, answer)
                final = _tags_of(answer) if rc == 0 else None
        finally:
            lib.ecrlink_dialogue_on_status(proto, _capi.STATUS_FN(), None)
        if failures:
            raise failures[0]
        _check(rc)
        receipt = _capi.copy_out(lib.ecrlink_dialogue_receipt, proto)[1]
        return Answer(final, receipt or None, seen)

    def cancel(self):
        """Ends the running transaction (EcrError 322; the terminal gets EOT); without
        one, the next transaction ends so at once. Any thread; never blocks."""
        if self._proto:
            lib.ecrlink_dialogue_cancel(self._proto)
