// SPDX-License-Identifier: MIT
#include "ecrlink/Channel.h"

#include "wire/ResultTable.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace Communication {

Channel::Channel() = default;

Channel::~Channel() {
    const int wake = wakeFd.load();
    if (wake >= 0) ::close(wake);
}

std::string Channel::lastError() const { return failure; }

void Channel::setLastError(std::string text) { failure = std::move(text); }

void Channel::clearLastError() { failure.clear(); }

int Channel::interruptDescriptor() {
    int wake = wakeFd.load(std::memory_order_acquire);
    if (wake >= 0) return wake;
    // Made on first use; a second thread racing here keeps the first one's.
    const int made = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (made < 0) return -1;
    if (wakeFd.compare_exchange_strong(wake, made, std::memory_order_acq_rel)) return made;
    ::close(made);
    return wake;
}

void Channel::interrupt() {
    const int wake = interruptDescriptor();
    const std::uint64_t one = 1;
    if (wake < 0) return;
    const ssize_t n = ::write(wake, &one, sizeof one); // a counter that is already set stays set
    (void)n;
}

void Channel::resume() {
    const int wake = wakeFd.load(std::memory_order_acquire);
    std::uint64_t value = 0;
    if (wake < 0) return;
    const ssize_t n = ::read(wake, &value, sizeof value); // EAGAIN when not interrupted
    (void)n;
}

void destroyCommIns(ICommunication* channel) {
    // Only channels derived from Channel have a destructor we can reach.
    delete dynamic_cast<Channel*>(channel);
}

static_assert(ecrlink::wire::allIn({CommOk, CommBadAddress, CommOpenFailed, CommConfigFailed, CommNotConnected, CommTimeout,
                                    CommIoError, CommBadSpeed, CommConnectFailed, CommConnectTimeout, CommResolveFailed,
                                    CommBadArgument, CommWriteTimeout, CommInUse, CommInterrupted, CommPartialWrite},
                                   ecrlink::wire::Space::Channel) &&
              ecrlink::wire::allIn({CommJournalFailed}, ecrlink::wire::Space::Journal) &&
              CommOk == ecrlink::wire::ChannelOk && CommNotConnected == ecrlink::wire::ChannelNotConnected &&
              CommPartialWrite == ecrlink::wire::ChannelPartialWrite);

const char* commErrorText(int code) { return ecrlink::wire::channelText(code); }

} // namespace Communication
