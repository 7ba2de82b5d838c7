# SPDX-License-Identifier: MIT
"""Terminal, Message and EcrError: the register's side of one payment terminal."""

import queue
import threading
import weakref
from collections.abc import MutableMapping
from ctypes import byref, c_uint, c_void_p

from . import _capi
from ._capi import lib

_STATUS_MESSAGE = 312
_NOT_ACKNOWLEDGED = 323
_FILE_TAGS = (44, 85)


class EcrError(Exception):
    """A failure of the library: `code` is its result code, `text` what it means.
    `answer` is the terminal's final answer when it arrived all the same (code 323:
    its acknowledgement did not reach the terminal, so check the transaction
    there), else None."""

    def __init__(self, code, text=None, answer=None):
        self.code = code
        self.text = text or lib.ecrlink_result_text(code).decode()
        self.answer = answer
        super().__init__("%d %s" % (code, self.text))


class Interrupted(KeyboardInterrupt):
    """Ctrl-C during Terminal.transaction. The transaction was cancelled at the
    terminal (which got EOT) unless its final answer had arrived already: then
    `answer` holds it (an Answer) and `code` is 0, or 323 when its
    acknowledgement did not reach the terminal. Otherwise `answer` is None and
    `code` tells how the transaction ended (322, cancelled)."""

    def __init__(self, code, answer=None):
        self.code = code
        self.answer = answer
        super().__init__("transaction interrupted" + ("; the final answer had arrived" if answer else ""))


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
    (a 32-bit number, stored most significant byte first); values received are bytes.
    `receipt` (bytes) is set on the received message that completed a receipt."""

    def __init__(self, tags=None, is_status=False):
        self._tags = {}
        self.is_status = is_status
        self.receipt = None
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

    def detach(self):
        """The handle, no longer released by this object."""
        handle, self.handle = self.handle, c_void_p()
        return handle


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


class Recovered:
    """What became of one transaction, read back from a journal after a restart.
    `outcome` is one of "not found", "not sent" (it may be sent again), "sent, no
    answer" (ask the terminal; never send the same request again blindly),
    "answered", "answered, acknowledgement not delivered" (check at the terminal).
    `reference` (str), `result` (what the transaction returned, None when the
    register stopped during it or could not record it), `answer` (a Message of
    the terminal's final answer, or None), `receipt` (bytes or None), `status`
    (the status messages, each a dict of tags). Values the journal masks read as
    b"*"."""

    def __init__(self, handle):
        outcome, result, count = c_uint(0), c_uint(0), c_uint(0)
        _check(lib.ecrlink_transaction_outcome(handle, byref(outcome)))
        self.outcome = lib.ecrlink_outcome_text(outcome.value).decode()
        self.reference = _capi.copy_out(lib.ecrlink_transaction_reference, handle)[1].decode(errors="replace")
        self.result = result.value if lib.ecrlink_transaction_result(handle, byref(result)) == 0 else None
        self.receipt = _capi.copy_out(lib.ecrlink_transaction_receipt, handle)[1] or None
        with _Native() as message:
            self.answer = Message(_tags_of(message)) if lib.ecrlink_transaction_answer(handle, message) == 0 else None
            _check(lib.ecrlink_transaction_status_count(handle, byref(count)))
            self.status = []
            for index in range(count.value):
                _check(lib.ecrlink_transaction_status_at(handle, index, message))
                self.status.append(_tags_of(message))

    def __repr__(self):
        return "Recovered(%r, reference=%r, result=%r)" % (self.outcome, self.reference, self.result)


def _recover(read, *args):
    handle = c_void_p()
    _check(lib.ecrlink_transaction_new(byref(handle)))
    try:
        rc = read(*args, handle)
        if rc != 0:
            _check(rc, _capi.copy_out(lib.ecrlink_transaction_error, handle)[1].decode(errors="replace"))
        return Recovered(handle)
    finally:
        lib.ecrlink_transaction_release(handle)


def last_transaction(journal):
    """The last transaction of the journal at path `journal`, a Recovered (outcome
    "not found" when it holds none). EcrError 103 when the file cannot be read,
    112 when it is not a journal. Reads only the end of the file."""
    return _recover(lib.ecrlink_journal_last, str(journal).encode())


def find_transaction(journal, reference):
    """The latest transaction with `reference` in the journal at path `journal`
    (and its rotated files), a Recovered; outcome "not found" when there is none:
    nothing was sent for it. Failures as last_transaction()."""
    return _recover(lib.ecrlink_journal_find, str(journal).encode(), str(reference).encode())


class _Line:
    """The library's protocol object of one Terminal. Calls on it run one at a
    time, on the caller's thread or on a transaction's worker; close() (also
    from another thread, or from the finaliser) cancels a running transaction,
    waits for the call in flight, then releases the object once."""

    def __init__(self):
        self.proto = c_void_p()
        self.receiving = None  # the message that collects receipt pieces for receive()
        self.cancelling = False  # a cancel of the running transaction was asked for
        self._state = threading.Condition()
        self._busy = False
        self._transaction = False

    def acquire(self, transaction=False):
        with self._state:
            if not self.proto:
                raise EcrError(314, "terminal closed")
            if self._busy:
                raise RuntimeError("the terminal is busy: one call at a time")
            self._busy, self._transaction, self.cancelling = True, transaction, False
            return self.proto

    def release(self):
        with self._state:
            self._busy = self._transaction = False
            self._state.notify_all()

    def cancel(self):
        with self._state:
            if self._transaction:
                self.cancelling = True
                lib.ecrlink_dialogue_cancel(self.proto)

    def forget_receipt(self):
        lib.ecrlink_message_release(self.receiving)
        self.receiving = None

    def close(self):
        with self._state:
            if self._transaction:
                self.cancelling = True
                lib.ecrlink_dialogue_cancel(self.proto)
            while self._busy:
                self._state.wait()
            if self.proto:
                self.forget_receipt()
                lib.ecrlink_proto_close(self.proto)
                lib.ecrlink_proto_release(self.proto)
                self.proto = c_void_p()


def _run_transaction(line, proto, request, idle, overall, reference, statuses, outcome):
    """The worker of a transaction: the blocking C call, off the thread that waits for Ctrl-C."""

    def status(user, handle):
        try:
            statuses.put(_tags_of(handle))
        except BaseException:  # nothing may cross the C library
            pass

    handler = _capi.STATUS_FN(status)
    try:
        _check(lib.ecrlink_dialogue_set_timeouts(proto, idle, overall))
        _check(lib.ecrlink_dialogue_on_status(proto, handler, None))
        with _Native() as answer:
            rc = lib.ecrlink_dialogue_run_reference(proto, request, answer, reference)
            outcome["final"] = _tags_of(answer) if rc in (0, _NOT_ACKNOWLEDGED) else None
        outcome["rc"] = rc
        outcome["receipt"] = _capi.copy_out(lib.ecrlink_dialogue_receipt, proto)[1]
    except BaseException as failure:
        outcome["failure"] = failure
    finally:
        lib.ecrlink_dialogue_on_status(proto, _capi.STATUS_FN(), None)
        lib.ecrlink_message_release(request)
        line.release()


def _wait_for(worker, line, cancel):
    while worker.is_alive():
        try:
            if cancel:
                line.cancel()  # again: a cancel that came before the run began found none to end
            worker.join(0.05)
        except KeyboardInterrupt:  # the transaction is being cancelled already; it ends within milliseconds
            cancel = True


class Terminal:
    """One payment terminal at an address such as "serial:/dev/ttyUSB0?baud=115200"
    or "tcp:192.168.1.20:5000", opened at once. Calls run one at a time; cancel()
    and close() may come from any thread. A Terminal that is dropped without
    close() is closed by its finaliser, so the device does not stay locked.

    `journal` (a path) keeps the journal of every transaction in that file
    (appended to; rotated at the next transaction once past `rotate_bytes`, None:
    16 MiB): its intent before the request goes out, the line, and how it ended;
    an answer is acknowledged only once it is on disk (EcrError 117 otherwise).
    After a restart, last_transaction(path) tells what became of the last one."""

    def __init__(self, address, flag=True, journal=None, rotate_bytes=None):
        self._line = line = _Line()
        self._finalizer = weakref.finalize(self, line.close)
        _check(lib.ecrlink_proto_new(byref(line.proto)))
        try:
            if journal is not None:
                _check(lib.ecrlink_proto_use_journal(line.proto, str(journal).encode(), rotate_bytes or 0),
                       self._reason())
            _check(lib.ecrlink_proto_use_address(line.proto, address.encode()), self._reason())
            _check(lib.ecrlink_proto_open(line.proto, 1 if flag else 0), self._reason())
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Cancels a running transaction and waits for it, closes the line and
        releases the library's objects; calling it again does nothing. Any thread."""
        self._finalizer()

    def _reason(self):
        return _capi.copy_out(lib.ecrlink_proto_last_error, self._line.proto)[1].decode(errors="replace")

    def send(self, message):
        """Sends one message (a Message or a dict); returns once the terminal acknowledged it.
        A receipt that receive() was collecting is dropped: a new exchange begins."""
        with _Native(message) as handle:
            proto = self._line.acquire()
            try:
                if self._line.receiving:
                    self._line.forget_receipt()
                _check(lib.ecrlink_proto_send_message(proto, handle))
            finally:
                self._line.release()

    def receive(self):
        """Receives one message; `is_status` tells a status message. The pieces of a
        receipt are collected across calls: the message that completes it carries it
        as `receipt`. EcrError 302 when no frame started within 250 ms: call again
        while the terminal is busy."""
        line = self._line
        proto = line.acquire()
        try:
            if not line.receiving:
                line.receiving = _Native().detach()
            rc = lib.ecrlink_proto_recv_message(proto, line.receiving)
            if rc not in (0, _STATUS_MESSAGE):
                _check(rc)
            message = Message(_tags_of(line.receiving), is_status=rc == _STATUS_MESSAGE)
            if lib.ecrlink_message_receipt_complete(line.receiving):
                message.receipt = next((message[n] for n in _FILE_TAGS if n in message), b"")
                line.forget_receipt()  # the next receipt starts afresh
            return message
        finally:
            line.release()

    def transaction(self, tags, on_status=None, idle=None, timeout=None, reference=""):
        """Sends the request `tags` and waits for the final answer, an Answer, calling
        on_status(dict) with each status message on this thread. `idle` (no frame from
        the terminal) and `timeout` (the whole transaction) are in seconds; None keeps
        the library's defaults (90 and 300). `reference` (the register's receipt or
        order number, one per transaction) goes to the journal with the request:
        find_transaction(journal, reference) finds it again.

        The terminal's answer is never thrown away:
        - code 323 (the answer arrived, its acknowledgement did not reach the
          terminal) raises EcrError with the answer on `answer`;
        - Ctrl-C cancels the transaction within a fraction of a second (the terminal
          gets EOT) and raises ecrlink.Interrupted, a KeyboardInterrupt, whose
          `answer` holds the final answer when it had arrived already;
        - an exception from on_status cancels the transaction and propagates, with
          the final answer, when it had arrived already, on its `answer` attribute."""
        millis = lambda seconds: 0 if seconds is None else max(1, int(seconds * 1000))
        native, line = _Native(tags), self._line
        try:
            proto = line.acquire(transaction=True)
        except BaseException:
            native.release()
            raise
        request = native.detach()
        statuses, outcome, seen, stopped = queue.SimpleQueue(), {}, [], None
        worker = threading.Thread(target=_run_transaction, name="ecrlink transaction",
                                  args=(line, proto, request, millis(idle), millis(timeout),
                                        str(reference).encode(), statuses, outcome))
        try:
            worker.start()
        except BaseException:
            lib.ecrlink_message_release(request)
            line.release()
            raise
        try:
            # Short steps, so that Ctrl-C is seen at once; the C call runs without the GIL.
            while worker.is_alive() or not statuses.empty():
                if line.cancelling:
                    line.cancel()  # again: a cancel that came before the run began found none to end
                try:
                    status = statuses.get(timeout=0.05)
                except queue.Empty:
                    continue
                seen.append(status)
                if on_status:
                    on_status(status)
        except BaseException as failure:
            stopped = failure
        _wait_for(worker, line, stopped is not None)
        if "failure" in outcome:
            raise outcome["failure"]
        rc = outcome["rc"]
        answer = Answer(outcome["final"], outcome["receipt"] or None, seen) if outcome["final"] is not None else None
        if isinstance(stopped, KeyboardInterrupt):
            raise Interrupted(rc, answer) from stopped
        if stopped is not None:
            if answer is not None:
                try:
                    stopped.answer = answer
                except AttributeError:
                    pass
            raise stopped
        if rc == _NOT_ACKNOWLEDGED:
            raise EcrError(rc, answer=answer)
        _check(rc)
        return answer

    def cancel(self):
        """Ends the running transaction (EcrError 322; the terminal gets EOT); without
        one it does nothing. Any thread; never blocks."""
        self._line.cancel()
