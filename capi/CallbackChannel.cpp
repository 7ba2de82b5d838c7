// SPDX-License-Identifier: MIT
#include "CallbackChannel.h"

namespace ecrlink::capi {

CallbackChannel::CallbackChannel(const ecrlink_channel& functions) : fn(functions) {}

CallbackChannel::~CallbackChannel() {
    if (fn.release) fn.release(fn.user);
}

bool CallbackChannel::complete(const ecrlink_channel& f) {
    return f.open && f.close && f.read && f.write && f.is_opened && f.set_read_timeouts && f.flush && f.set_open_flag;
}

int CallbackChannel::open() {
    writeFailure = 0;
    wroteWhole = false;
    return fn.open(fn.user);
}
int CallbackChannel::close() { return fn.close(fn.user); }
int CallbackChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    wroteWhole = false;
    return fn.read(fn.user, buffer, wanted, &count);
}
int CallbackChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    const int rc = fn.write(fn.user, data, length, &count);
    if (rc != Communication::CommPartialWrite) writeFailure = rc;
    wroteWhole = rc == 0;
    return rc;
}
int CallbackChannel::isOpened() {
    if (wroteWhole) {
        wroteWhole = false;
        return 0;
    }
    const int line = fn.is_opened(fn.user);
    return line != 0 ? line : writeFailure;
}
int CallbackChannel::setReadTimeouts(unsigned int first, unsigned int milliseconds) {
    return fn.set_read_timeouts(fn.user, first, milliseconds);
}
int CallbackChannel::flush() { return fn.flush(fn.user); }
int CallbackChannel::setOpenFlag(bool flag) { return fn.set_open_flag(fn.user, flag ? 1 : 0); }
void CallbackChannel::interrupt() {
    if (fn.interrupt) fn.interrupt(fn.user);
}
void CallbackChannel::resume() {
    if (fn.resume) fn.resume(fn.user);
}

} // namespace ecrlink::capi
