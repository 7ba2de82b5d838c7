// SPDX-License-Identifier: MIT
// A purchase through a capturing channel over a socketpair: what the file holds, what it hides, and when the
// journal reaches the disk.
#include "ecrlink/CaptureChannel.h"
#include "ecrlink/DescriptorChannel.h"
#include "ecrlink/ECRDialogue.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"
#include "support/Wire.h"

#include <gmock/gmock.h>

#include <fstream>
#include <future>
#include <iterator>
#include <sys/socket.h>

using namespace Communication;
using namespace testing_support;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The register's line; when the ACK for a received frame goes out, the answer must already be in the file.
struct Line : DescriptorChannel {
    Line(int fd, std::string path) : DescriptorChannel(fd), path(std::move(path)) {}
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        if (length == 1 && data[0] == 0x06) {
            std::vector<CaptureEvent> events;
            bool truncated = false;
            std::string error;
            readCapture(path, events, truncated, error);
            acks.push_back(events.size() >= 2 && events[events.size() - 2].kind == CaptureEvent::Frame &&
                           events.back().kind == CaptureEvent::Synced);
        }
        return DescriptorChannel::write(data, length, count);
    }
    std::string path;
    std::vector<bool> acks;
};

TEST(CaptureChannel, RecordsThePurchaseMasksCardDataAndSyncsBeforeEachAck) {
    const std::string path = testing::TempDir() + "ecrlink-capture-" + std::to_string(::getpid()), card = "4111111111111111";
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto* line = new Line(fds[0], path);
    CECRProto proto;
    proto.setCommunication(new CaptureChannel(line, {path, {5}, true, false}));
    ASSERT_EQ(proto.open(true), 0u);
    const Bytes answer = record(2, {'O', 'K'}) + record(5, Bytes(card.begin(), card.end()));
    auto terminal = std::async(std::launch::async, [&] {
        DescriptorChannel peer(fds[1]);
        peer.setReadTimeouts(0, 3000);
        unsigned char buffer[256];
        unsigned int n = 0;
        peer.read(buffer, sizeof buffer, n); // the request
        for (const Bytes& b : {Bytes{0x06}, frame(0x12, record(2, {'P', 'I', 'N'})), frame(0x02, answer)}) {
            peer.write(b.data(), unsigned(b.size()), n);
            if (b.size() > 1) peer.read(buffer, 1, n);
        }
    });
    CTLVMessage request, received;
    request.addTag(new CTLVTag(5, reinterpret_cast<const unsigned char*>(card.data()), unsigned(card.size())));
    CECRDialogue dialogue(proto);
    EXPECT_EQ(dialogue.run(request, received), 0u);
    terminal.get();
    proto.close();

    EXPECT_THAT(line->acks, testing::ElementsAre(true, true)) << "synced before every ACK";
    const std::string whole = slurp(path);
    EXPECT_EQ(whole.find(card), std::string::npos) << "the card number reached the file";
    std::vector<CapturedMessage> messages;
    std::string error;
    ASSERT_EQ(readCaptureMessages(path, messages, error), 0) << error;
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_FALSE(messages[0].fromTerminal);
    EXPECT_EQ(messages[0].reply, 0x06);
    EXPECT_EQ(messages[1].start, 0x12);
    Bytes masked = answer;
    std::fill(masked.end() - long(card.size()), masked.end(), '*');
    EXPECT_EQ(messages[2].dump, masked);
    EXPECT_TRUE(messages[2].checkOk && messages[2].fromTerminal);
    EXPECT_EQ(messages[2].reply, 0x06);

    // Cut short anywhere, the file still reads up to its last whole record.
    std::size_t previous = 0;
    for (std::size_t size = 8; size <= whole.size(); ++size) {
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(whole.data(), std::streamsize(size));
        std::vector<CaptureEvent> events;
        bool truncated = false;
        ASSERT_EQ(readCapture(path, events, truncated, error), 0);
        EXPECT_GE(events.size(), previous);
        EXPECT_TRUE(size < whole.size() || !truncated);
        previous = events.size();
    }
    std::remove(path.c_str());
}

// The wire trace reaches the process's one Logger, although another library writes it.
TEST(CaptureChannel, TracesTheBytesAtLevelTwo) {
    CaptureChannel channel(new ScriptedChannel("06"), {"", {}, false, true});
    LogCapture log;
    Logger::get().enable(Logger::Level(2));
    unsigned char nak = 0x15, got = 0;
    unsigned int n = 0;
    channel.write(&nak, 1, n);
    channel.read(&got, 1, n);
    EXPECT_THAT(log.texts(), testing::ElementsAre("wire -> 15", "wire <- 06"));
}

