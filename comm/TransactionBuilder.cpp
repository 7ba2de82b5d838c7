// SPDX-License-Identifier: MIT
#include "TransactionBuilder.h"

#include "wire/DumpWalk.h"
#include "wire/Frame.h"

namespace ecrlink::comm {

using namespace Communication;

namespace {

using Ending = TransactionJournal::Ending;

constexpr std::uint32_t FileTags[] = {44, 85};

bool isFileTag(std::uint32_t number) { return number == FileTags[0] || number == FileTags[1]; }

// A dump as the terminal writes it (record headers least significant byte
// first); false when its records do not fill it exactly.
bool tagsOf(const std::vector<unsigned char>& dump, std::vector<JournalTag>& tags) {
    tags.clear();
    const auto end = ecrlink::wire::walkDump(dump.data(), dump.size(), ecrlink::wire::ByteOrder::LsbFirst,
                                             [&](const ecrlink::wire::DumpRecord& r) {
                                                 const unsigned char* value = dump.data() + r.value;
                                                 tags.push_back({r.number, {value, value + r.present(dump.size())}});
                                             });
    return end.whole(dump.size());
}

bool isStatus(const std::vector<JournalTag>& tags) {
    for (const JournalTag& tag : tags)
        if (tag.number == 1) return tag.value.size() == 4 && getLE(tag.value.data(), 4) == 13;
    return false;
}

// The dialogue's own rule: a tag other than the file tags.
bool isFinal(const std::vector<JournalTag>& tags) {
    for (const JournalTag& tag : tags)
        if (!isFileTag(tag.number)) return true;
    return false;
}

// Receipt pieces as the message object collects them: a piece header
// (number, count) and the payload; the piece numbered as the count is the last.
void collectPieces(const std::vector<JournalTag>& tags, JournalTransaction& out) {
    for (const JournalTag& tag : tags) {
        if (!isFileTag(tag.number) || tag.value.size() < 8) continue;
        const std::uint64_t number = getLE(tag.value.data(), 4), count = getLE(tag.value.data() + 4, 4);
        if (number > count) continue;
        out.receipt.insert(out.receipt.end(), tag.value.begin() + 8, tag.value.end());
        if (number == count) out.receiptComplete = true;
    }
}

} // namespace

TransactionBuilder::TransactionBuilder()
    : events(new EventBuilder([this](CaptureEvent&& e) { take(std::move(e)); })) {}

bool TransactionBuilder::feed(const Record& record) {
    if (record.type == Intent) {
        if (begun) return false;
        begun = true;
        std::uint64_t wall = 0;
        if (splitIntent(record, wall, result.reference, result.request)) result.wallTimeNs = wall;
        return true;
    }
    if (!begun || ended) return true;
    events->feed(record);
    return true;
}

void TransactionBuilder::take(CaptureEvent&& e) {
    switch (e.kind) {
    case CaptureEvent::Sending:
        sent = true;
        break;
    case CaptureEvent::Outcome:
        ended = true;
        result.resultRecorded = true;
        result.result = static_cast<unsigned int>(e.code);
        ending = e.value;
        requestOut = e.checkOk;
        break;
    case CaptureEvent::Session:
    case CaptureEvent::Open:
        waiting = None; // a reply after a restart answers nothing of before
        break;
    case CaptureEvent::Frame:
        waiting = None;
        if (!e.fromTerminal || !e.checkOk) break;
        if (e.start != ecrlink::wire::STX && e.start != ecrlink::wire::DC2) break;
        frames.push_back(Frame{std::move(e.data), e.start == ecrlink::wire::DC2, false});
        waiting = frames.size() - 1;
        break;
    case CaptureEvent::Control:
        if (e.fromTerminal || waiting == None) break;
        frames[waiting].acknowledged = e.start == ecrlink::wire::ACK && e.code == CommOk;
        waiting = None;
        break;
    default:
        break;
    }
}

void TransactionBuilder::finish(JournalTransaction& out) {
    out = result;
    if (!begun) return;
    // Without an outcome the final answer is found by the dialogue's own
    // rule; with one, it is the last data frame before it.
    const Frame* answer = nullptr;
    std::vector<JournalTag> tags;
    for (const Frame& frame : frames) {
        if (!tagsOf(frame.dump, tags)) continue;
        if (frame.status || isStatus(tags)) {
            out.statusMessages.push_back(tags);
            continue;
        }
        collectPieces(tags, out);
        if (ended ? true : isFinal(tags)) {
            answer = &frame;
            out.answerTags = tags;
            if (!ended) break;
        }
    }
    const bool answeredByRecords = answer != nullptr;
    if (ended && ending == static_cast<unsigned int>(Ending::NoAnswer)) {
        answer = nullptr;
        out.answerTags.clear();
    }
    if (answer) out.answer = answer->dump;

    if (ended && ending == static_cast<unsigned int>(Ending::Answered))
        out.outcome = answeredByRecords && answer->acknowledged ? JournalTransaction::Answered
                                                                 : JournalTransaction::AnsweredNotAcknowledged;
    else if (ended && ending == static_cast<unsigned int>(Ending::AnsweredNotAcknowledged))
        out.outcome = JournalTransaction::AnsweredNotAcknowledged;
    else if (!ended && answer)
        out.outcome = answer->acknowledged ? JournalTransaction::Answered : JournalTransaction::AnsweredNotAcknowledged;
    else if (sent && (!ended || requestOut))
        out.outcome = JournalTransaction::SentNoAnswer;
    else
        out.outcome = JournalTransaction::NotSent;
}

} // namespace ecrlink::comm
