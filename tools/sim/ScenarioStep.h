// SPDX-License-Identifier: MIT
#pragma once

#include "wire/TagSpec.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// One line of a scenario.
struct ScenarioStep {
    enum class Kind {
        Answer,  ///< read the register's next frame and reply with `reply`
        Frame,   ///< send a data or status frame holding `tags`
        Receipt, ///< send `text` in `pieces` data frames of file tag `tagNumber`
        Raw,     ///< write `bytes` as they are
        Sleep,   ///< pause `ms`
        Slow,    ///< from now on write frames byte by byte, `ms` apart (0: off)
        Corrupt, ///< the next frame goes out once with a wrong check byte
        Drop,    ///< hang up the line
    };
    enum class Reply { Ack, Nak, Eot, None };

    Kind kind = Kind::Answer;
    Reply reply = Reply::Ack;
    std::uint8_t start = 0x02;
    std::vector<TagSpec> tags;
    std::uint32_t tagNumber = 0;
    std::string text;
    unsigned int pieces = 0;
    Bytes bytes;
    int ms = 0;
    int line = 0;
};

} // namespace ecrlink::tool
