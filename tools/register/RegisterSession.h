// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include "ecrlink/ECRDialogue.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// The register's side of one dialogue through the library: open the
/// channel, run the request to its final answer, and report every step.
class RegisterSession {
public:
    struct Options {
        std::string address;          ///< channel address, e.g. "serial:/dev/pts/3"
        std::vector<RawTag> request;  ///< tags of the request, values as stored
        unsigned int idleMs = CECRDialogue::DefaultIdleTimeoutMs;       ///< quiet terminal
        unsigned int overallMs = CECRDialogue::DefaultOverallTimeoutMs; ///< whole dialogue
        std::string receiptFile;      ///< where to save the receipt; empty: nowhere
        std::string captureFile;      ///< capture of the line; empty: none
        std::string journalFile;      ///< the transaction's journal; empty: none
        std::string reference;        ///< the transaction's reference in the journal
        std::set<std::uint32_t> masked; ///< tags whose values the capture or the journal hides
        bool wireTrace = false;       ///< the bytes as hex lines on the log (level 2)
    };

    /// Exit status: 0 done, 1 a step failed, 2 the address is not understood.
    /// Ctrl-C (SIGINT) or SIGTERM cancels the dialogue: the terminal gets EOT.
    int run(const Options& options);

    /// The tags of a message as the register holds them.
    static std::vector<RawTag> tagsOf(CTLVMessage& message);

    /// The collected receipt, once complete.
    const std::string& receipt() const { return receiptText; }

private:
    std::string receiptText;
};

} // namespace ecrlink::tool
