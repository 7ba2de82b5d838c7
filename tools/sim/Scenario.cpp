// SPDX-License-Identifier: MIT
#include "sim/Scenario.h"

#include "sim/ScenarioParser.h"

#include <fstream>
#include <sstream>

namespace ecrlink::tool {

namespace {

const char* const ReceiptText =
    "ECRLINK TEST SHOP\\n"
    "1 MAIN STREET\\n"
    "SALE\\n"
    "CARD        **** **** **** 1234\\n"
    "AUTH CODE   A1B2C3\\n"
    "APPROVED\\n"
    "THANK YOU\\n";

const char* const Answer = "send 2=APPROVED 3=A1B2C3 4=u32:echo\n";

std::string purchaseAfterAck(bool corruptAnswer) {
    return std::string("status 2=PROCESSING\n"
                       "send 1=u32:13 2=\"INSERT CARD\"\n"
                       "receipt 44 \"") +
           ReceiptText + "\" 3\n" + (corruptAnswer ? "corrupt\n" : "") + Answer;
}

} // namespace

std::string Scenario::builtinText(const std::string& name) {
    if (name == "purchase") return "ack\n" + purchaseAfterAck(false);
    if (name == "corrupt") return "ack\n" + purchaseAfterAck(true);
    if (name.rfind("nak:", 0) == 0) {
        std::uint64_t n = 0;
        if (!parseNumber(name.substr(4), 100, n) || n < 1) return {};
        std::string text;
        for (std::uint64_t i = 0; i < n; ++i) text += "nak\n";
        return text + "ack\n" + purchaseAfterAck(false);
    }
    if (name == "eot") return "eot\n";
    if (name == "bel") return "ack\nbel\n";
    if (name == "silence") return "ignore\n";
    if (name == "oversize") return "ack\nraw 02 10 01\n";
    if (name == "slow") return "ack\nslow 100\nsend 2=OK\n";
    if (name == "drop") return "ack\ndrop\n";
    return {};
}

std::string Scenario::builtinNames() {
    return "purchase, nak:N, corrupt, eot, bel, silence, oversize, slow, drop";
}

bool Scenario::load(const std::string& nameOrFile, Scenario& out, std::string& error) {
    const std::string builtin = builtinText(nameOrFile);
    if (!builtin.empty()) {
        out.name = nameOrFile;
        return ScenarioParser::parse(builtin, nameOrFile, out, error);
    }
    std::ifstream file(nameOrFile);
    if (!file) {
        error = "'" + nameOrFile + "' is neither a built-in scenario (" + builtinNames() + ") nor a readable file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    out.name = nameOrFile;
    return ScenarioParser::parse(text.str(), nameOrFile, out, error);
}

} // namespace ecrlink::tool
