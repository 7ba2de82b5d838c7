// Cost of one frame and its reply byte through a real channel: the channel
// writes the frame, the terminal's end takes it and answers ACK, the channel
// reads the ACK. Over a pseudo-terminal and over loopback TCP.
#include "ecrlink/ChannelFactory.h"

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace Communication;

namespace {

// Writes a frame of `size` data bytes through `channel`, lets `peer` take it
// and reply ACK, and reads the ACK back.
void roundTrips(benchmark::State& state, Channel& channel, int peer) {
    const std::vector<unsigned char> frame(std::size_t(state.range(0)) + 4, 0x5a);
    std::vector<unsigned char> sink(frame.size());
    const unsigned char ack = 0x06;
    channel.setReadTimeouts(0, 1500);
    for (auto _ : state) {
        unsigned int count = 0;
        channel.flush();
        if (channel.write(frame.data(), unsigned(frame.size()), count) != CommOk) return state.SkipWithError("write");
        for (std::size_t got = 0; got < frame.size();) {
            const ssize_t n = ::read(peer, sink.data() + got, sink.size() - got);
            if (n <= 0) return state.SkipWithError("peer read");
            got += std::size_t(n);
        }
        if (::write(peer, &ack, 1) != 1) return state.SkipWithError("peer write");
        unsigned char reply = 0;
        if (channel.read(&reply, 1, count) != CommOk || reply != ack) return state.SkipWithError("read");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void FrameOverPty(benchmark::State& state) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    int rc = 0;
    std::string error;
    std::unique_ptr<Channel> channel(createChannel(std::string("serial:") + ::ptsname(master), rc, error));
    if (!channel || channel->open() != CommOk) return state.SkipWithError("open");
    roundTrips(state, *channel, master);
    channel->close();
    ::close(master);
}
BENCHMARK(FrameOverPty)->Arg(16)->Arg(1024);

void FrameOverTcp(benchmark::State& state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    int rc = 0;
    std::string error;
    std::unique_ptr<Channel> channel(createChannel("tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port)), rc, error));
    if (!channel || channel->open() != CommOk) return state.SkipWithError("connect");
    const int peer = ::accept(listener, nullptr, nullptr);
    roundTrips(state, *channel, peer);
    channel->close();
    ::close(peer);
    ::close(listener);
}
BENCHMARK(FrameOverTcp)->Arg(16)->Arg(4096);

} // namespace
