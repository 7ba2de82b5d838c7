// SPDX-License-Identifier: MIT
#pragma once

// What a Journal holds, shared with the channels that record into it.
// Internal to libecrcomm.

#include "JournalFile.h"

#include "ecrlink/Journal.h"

#include <memory>

namespace Communication {

struct Journal::State {
    explicit State(Options o) : options(std::move(o)), file(std::make_shared<ecrlink::comm::JournalFile>("journal")) {}
    Options options;
    std::shared_ptr<ecrlink::comm::JournalFile> file;
};

} // namespace Communication
