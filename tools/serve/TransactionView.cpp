// SPDX-License-Identifier: MIT
#include "serve/TransactionView.h"

#include "serve/TagJson.h"

#include "ecrlink/ECRProto.h"

namespace ecrtool {

nlohmann::json TransactionView::json(const std::set<std::uint32_t>& masked) const {
    nlohmann::json out;
    out["reference"] = reference;
    out["outcome"] = outcome;
    if (ended) {
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
    if (!finished.empty()) out["finished"] = finished;
    return out;
}

} // namespace ecrtool
