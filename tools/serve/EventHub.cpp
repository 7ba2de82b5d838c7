// SPDX-License-Identifier: MIT
#include "serve/EventHub.h"

#include <vector>

namespace ecrlink::tool {

int EventHub::subscribe(Subscriber subscriber) {
    std::lock_guard<std::mutex> lock(mutex);
    subscribers.emplace(next, std::move(subscriber));
    return next++;
}

void EventHub::unsubscribe(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    subscribers.erase(id);
}

void EventHub::publish(const nlohmann::json& event) {
    auto text = std::make_shared<const std::string>(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    std::vector<Subscriber> targets;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& entry : subscribers) targets.push_back(entry.second);
    }
    // Outside the lock: a subscriber may unsubscribe another meanwhile.
    for (const Subscriber& deliver : targets) deliver(text);
}

} // namespace ecrlink::tool
