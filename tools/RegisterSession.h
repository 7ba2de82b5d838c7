#pragma once

#include "WireDump.h"

#include <string>
#include <vector>

namespace ecrtool {

/// The register's side of one dialogue through the library: open the
/// channel, send the request, receive status messages and receipt pieces
/// into one message until the final answer, and report every step.
class RegisterSession {
public:
    struct Options {
        std::string address;          ///< channel address, e.g. "serial:/dev/pts/3"
        std::vector<RawTag> request;  ///< tags of the request, values as stored
        int waitMs = 20000;           ///< how long to wait for the terminal's answers
        std::string receiptFile;      ///< where to save the receipt; empty: nowhere
    };

    /// Exit status: 0 done, 1 a step failed, 2 the address is not understood.
    int run(const Options& options);

    /// The collected receipt, once complete.
    const std::string& receipt() const { return receiptText; }

private:
    int fail(const std::string& what, unsigned int code);

    std::string receiptText;
};

} // namespace ecrtool
