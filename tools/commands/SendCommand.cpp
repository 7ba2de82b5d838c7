// SPDX-License-Identifier: MIT
#include "commands/SendCommand.h"

#include "base/Console.h"
#include "wire/TagSpec.h"

#include <map>

namespace ecrlink::tool {

namespace SendCommand {

namespace {

constexpr int BadArguments = 2;

} // namespace

int run(const std::vector<std::string>& tagTexts, RegisterSession::Options options) {
    std::map<std::uint32_t, std::string> given;
    for (const std::string& text : tagTexts) {
        TagSpec spec;
        std::string error;
        // The library stores numbers most significant byte first; so does the tool.
        if (!TagSpec::parse(text, ByteOrder::MsbFirst, false, spec, error)) {
            Console::err("ecrlink: send: " + error + "\n");
            return BadArguments;
        }
        // A message holds one tag per number: a second one would replace the first unseen.
        if (!given.emplace(spec.tag.number, text).second) {
            Console::err("ecrlink: send: tag " + std::to_string(spec.tag.number) + " given twice (--tag " +
                         given[spec.tag.number] + ", --tag " + text + "); give each tag number once\n");
            return BadArguments;
        }
        options.request.push_back(spec.tag);
    }
    RegisterSession session;
    return session.run(options);
}

} // namespace SendCommand

} // namespace ecrlink::tool
