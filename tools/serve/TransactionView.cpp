// SPDX-License-Identifier: MIT
#include "serve/TransactionView.h"

#include "serve/TagJson.h"

#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"

#include <cstdio>
#include <ctime>

namespace ecrlink::tool {

nlohmann::json TransactionView::json(const std::set<std::uint32_t>& masked) const {
    nlohmann::json out;
    out["reference"] = reference;
    out["outcome"] = outcome;
    if (resultKnown) {
        out["result"] = result;
        out["result_text"] = ecrlinkResultText(result);
    }
    out["request"] = TagJson::object(request, ByteOrder::MsbFirst, masked);
    nlohmann::json list = nlohmann::json::array();
    for (const std::vector<RawTag>& status : statuses) list.push_back(TagJson::object(status, ByteOrder::LsbFirst, masked));
    out["status_messages"] = std::move(list);
    out["answer"] = answered ? TagJson::object(answer, ByteOrder::LsbFirst, masked) : nlohmann::json();
    out["receipt"] = receipt.empty() ? nlohmann::json() : nlohmann::json(TagJson::text(receipt));
    // The exact bytes when the text above had to replace some.
    if (!receipt.empty() && !isPrintable(receipt.data(), receipt.size()))
        out["receipt_hex"] = TagJson::hex(receipt);
    if (!started.empty()) out["started"] = started;
    return out;
}

bool TransactionView::certainlyNotTaken() const {
    return ended && (outcome == NotSent || outcome == Failed);
}

TransactionView TransactionView::fromJournal(const Communication::JournalTransaction& record, bool refused) {
    using Record = Communication::JournalTransaction;
    TransactionView view;
    view.reference = record.reference;
    view.ended = true;
    switch (record.outcome) {
    case Record::NotFound:
    case Record::NotSent:
        view.outcome = NotSent;
        break;
    case Record::SentNoAnswer:
        view.outcome = refused ? Failed : SentNoAnswer;
        break;
    case Record::Answered:
        view.outcome = Answered;
        break;
    case Record::AnsweredNotAcknowledged:
        view.outcome = AnsweredNotAcknowledged;
        break;
    }
    view.resultKnown = record.resultRecorded;
    view.result = record.result;
    std::string error;
    WireDump::decode(record.request.data(), record.request.size(), ByteOrder::MsbFirst, view.request, error);
    auto raw = [](const std::vector<Communication::JournalTag>& tags) {
        std::vector<RawTag> out;
        for (const Communication::JournalTag& tag : tags)
            if (!CTLVMessage::isFileTag(static_cast<int>(tag.number))) out.push_back(RawTag{tag.number, tag.value});
        return out;
    };
    for (const auto& status : record.statusMessages) view.statuses.push_back(raw(status));
    view.answered = record.outcome == Record::Answered || record.outcome == Record::AnsweredNotAcknowledged;
    if (view.answered) view.answer = raw(record.answerTags);
    view.receipt.assign(record.receipt.begin(), record.receipt.end());
    if (record.wallTimeNs) view.started = utc(record.wallTimeNs);
    return view;
}

std::string TransactionView::utc(std::uint64_t nanoseconds) {
    const std::time_t seconds = static_cast<std::time_t>(nanoseconds / 1000000000u);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03uZ", static_cast<unsigned int>(nanoseconds / 1000000u % 1000u));
    return text;
}

} // namespace ecrlink::tool
