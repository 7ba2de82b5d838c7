// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/ecrlink.h"

namespace ecrlink::capi {

/// A channel whose eight operations are the C functions an application gave.
/// Deriving from Channel lets destroyCommIns destroy it and the dialogue
/// interrupt it; without the optional interrupt, cancel takes effect after the
/// application's current wait.
class CallbackChannel : public Communication::Channel {
public:
    explicit CallbackChannel(const ecrlink_channel& functions);
    ~CallbackChannel() override;

    /// True when all eight operations are given.
    static bool complete(const ecrlink_channel& functions);

    int open() override;
    int close() override;
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override;
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    int flush() override;
    int setOpenFlag(bool flag) override;
    void interrupt() override;
    void resume() override;

private:
    ecrlink_channel fn;
    // What the last write said, as every channel reports it (ICommunication.h):
    // its failure until open() or a write that goes out whole, and right after
    // a whole write, that it went out.
    int writeFailure = 0;
    bool wroteWhole = false;
};

} // namespace ecrlink::capi
