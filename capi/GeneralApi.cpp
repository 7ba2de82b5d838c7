// SPDX-License-Identifier: MIT
// Result texts, the version and the log consumer.

#include "Boundary.h"

#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"
#include "wire/ResultTable.h"

#include <string>
#include <vector>

using namespace ecrlink::capi;

static_assert(ecrlink::wire::allIn({ECRLINK_OUT_OF_MEMORY, ECRLINK_FAILURE}, ecrlink::wire::Space::CApi) &&
              ecrlink::wire::allIn({ECRLINK_IDLE_TIMEOUT, ECRLINK_OVERALL_TIMEOUT, ECRLINK_CANCELLED,
                                    ECRLINK_ANSWER_NOT_ACKNOWLEDGED},
                                   ecrlink::wire::Space::Dialogue) &&
              ecrlink::wire::allIn({ECRLINK_JOURNAL_FAILED}, ecrlink::wire::Space::Journal));

extern "C" {

const char* ecrlink_result_text(unsigned int code) { return ecrlink::wire::anyText(code); }

const char* ecrlink_version(void) { return ecrlinkVersion(); }

void ecrlink_log_enable(int level) {
    if (level > 0)
        Logger::get().enable(Logger::Level(level));
    else
        Logger::get().disable();
}

int ecrlink_log_wait(unsigned int timeout_ms) {
    try {
        Logger& log = Logger::get();
        std::unique_lock<std::mutex> lock(log.queue_mutex);
        return log.queue_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !log.queue.empty(); })
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

size_t ecrlink_log_drain(ecrlink_log_fn fn, void* user) {
    try {
        const std::vector<std::string> lines = Logger::get().drain();
        if (fn)
            for (const std::string& line : lines) fn(user, line.c_str(), line.size());
        return lines.size();
    } catch (...) {
        return 0;
    }
}

} // extern "C"
