// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace ecrlink::tool {

/// Hands each event of the terminal side (a status message, a receipt
/// piece, the final answer, the outcome, the line opening or closing) to
/// every subscriber, as one JSON text. Any thread; a subscriber is called on
/// the publishing thread and must not block (a WebSocket session posts the
/// text to its own executor).
class EventHub {
public:
    using Subscriber = std::function<void(std::shared_ptr<const std::string>)>;

    int subscribe(Subscriber subscriber);
    void unsubscribe(int id);
    void publish(const nlohmann::json& event);

private:
    std::mutex mutex;
    int next = 1;
    std::map<int, Subscriber> subscribers;
};

} // namespace ecrlink::tool
