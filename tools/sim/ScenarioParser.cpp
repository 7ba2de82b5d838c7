// SPDX-License-Identifier: MIT
#include "sim/ScenarioParser.h"

#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"

#include <sstream>

namespace ecrlink::tool {

namespace {

bool number(const std::string& text, std::uint64_t min, std::uint64_t max, long& out) {
    std::uint64_t value = 0;
    if (!parseNumber(text, max, value) || value < min) return false;
    out = static_cast<long>(value);
    return true;
}

bool fits(std::size_t dump, std::string& error) {
    if (dump <= WireDump::MaxFramed) return true;
    error = "a frame of " + std::to_string(dump) + " data bytes cannot be sent (" +
            std::to_string(WireDump::MaxFramed) + " at most)";
    return false;
}

bool isAnswer(const std::string& word) {
    return word == "ack" || word == "nak" || word == "eot" || word == "ignore";
}

bool parseLine(const std::vector<std::string>& w, ScenarioStep& step, std::string& error) {
    using Kind = ScenarioStep::Kind;
    const std::string& cmd = w[0];
    const std::size_t args = w.size() - 1;
    auto noArgs = [&] {
        if (args == 0) return true;
        error = "'" + cmd + "' takes no arguments";
        return false;
    };
    if (isAnswer(cmd)) {
        step.kind = Kind::Answer;
        step.reply = cmd == "ack" ? ScenarioStep::Reply::Ack
                     : cmd == "nak" ? ScenarioStep::Reply::Nak
                     : cmd == "eot" ? ScenarioStep::Reply::Eot
                                    : ScenarioStep::Reply::None;
        return noArgs();
    }
    if (cmd == "send" || cmd == "status") {
        step.kind = Kind::Frame;
        step.start = cmd == "send" ? CECRProto::STX : CECRProto::DC2;
        std::size_t fixed = 0; // echoed values are known only when the request has come
        if (args == 0) {
            error = "'" + cmd + "' needs at least one NUM=VALUE";
            return false;
        }
        for (std::size_t i = 1; i < w.size(); ++i) {
            TagSpec spec;
            // Numbers go out least significant byte first: that is how the register reads them.
            if (!TagSpec::parse(w[i], ByteOrder::LsbFirst, true, spec, error)) return false;
            fixed += 8 + spec.tag.value.size();
            step.tags.push_back(std::move(spec));
        }
        return fits(fixed, error);
    }
    if (cmd == "receipt") {
        step.kind = Kind::Receipt;
        long tag = 0;
        long pieces = 0;
        if (args != 3) {
            error = "'receipt' needs TAG \"TEXT\" PIECES";
            return false;
        }
        if (!number(w[1], 0, 0xFFFFFFFFL, tag) || !CTLVMessage::isFileTag(static_cast<int>(tag))) {
            error = "receipt tag must be a file tag, 44 or 85";
            return false;
        }
        if (w[2].empty()) {
            error = "receipt text is empty";
            return false;
        }
        if (!number(w[3], 1, 1000, pieces) || static_cast<std::size_t>(pieces) > w[2].size()) {
            error = "receipt pieces must be 1 to 1000 and no more than the text's length";
            return false;
        }
        step.tagNumber = static_cast<std::uint32_t>(tag);
        step.text = w[2];
        step.pieces = static_cast<unsigned int>(pieces);
        // The largest piece, with its record and piece headers.
        return fits(16 + (w[2].size() + step.pieces - 1) / step.pieces, error);
    }
    if (cmd == "raw" || cmd == "bel") {
        step.kind = Kind::Raw;
        if (cmd == "bel") {
            step.bytes = {CECRProto::BEL};
            return noArgs();
        }
        std::string hex;
        for (std::size_t i = 1; i < w.size(); ++i) hex += w[i] + " ";
        std::string why;
        if (!parseHex(hex, step.bytes, why) || step.bytes.empty()) {
            error = "'raw' needs hex bytes" + (why.empty() ? std::string() : ": " + why);
            return false;
        }
        return true;
    }
    if (cmd == "sleep" || cmd == "slow") {
        step.kind = cmd == "sleep" ? Kind::Sleep : Kind::Slow;
        long ms = 0;
        const long max = cmd == "sleep" ? 600000 : 10000;
        if (args != 1 || !number(w[1], 0, max, ms)) {
            error = "'" + cmd + "' needs milliseconds, 0 to " + std::to_string(max);
            return false;
        }
        step.ms = static_cast<int>(ms);
        return true;
    }
    if (cmd == "corrupt") {
        step.kind = Kind::Corrupt;
        return noArgs();
    }
    if (cmd == "drop") {
        step.kind = Kind::Drop;
        return noArgs();
    }
    error = "unknown command '" + cmd + "'";
    return false;
}

} // namespace

namespace ScenarioParser {

bool tokenize(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                word += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == '#') {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        error = "unterminated quoted text";
        return false;
    }
    if (inWord) words.push_back(word);
    return true;
}

bool parse(const std::string& text, const std::string& source, Scenario& out, std::string& error) {
    out.steps.clear();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<std::string> words;
    while (std::getline(in, line)) {
        ++number;
        std::string why;
        ScenarioStep step;
        step.line = number;
        if (!tokenize(line, words, why) || (!words.empty() && !parseLine(words, step, why))) {
            error = source + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        if (words.empty()) continue;
        if (out.steps.empty() && step.kind != ScenarioStep::Kind::Answer) {
            error = source + ":" + std::to_string(number) +
                    ": a scenario begins by answering the register's request (ack, nak, eot or ignore)";
            return false;
        }
        out.steps.push_back(std::move(step));
    }
    if (out.steps.empty()) {
        error = source + ": no steps";
        return false;
    }
    return true;
}

const char* formatHelp() {
    return "Scenario file: one command per line, # starts a comment, \"quotes\" group words\n"
           "(\\n, \\t, \\\" and \\\\ inside quotes). It plays once per request of the register\n"
           "and must begin by answering that request.\n"
           "  ack | nak | eot | ignore   read the register's next frame and answer ACK, NAK, EOT or\n"
           "                             nothing (ack answers NAK to a bad check byte and waits again)\n"
           "  send NUM=VALUE...          send a data frame (STX) holding these tags\n"
           "  status NUM=VALUE...        send a status frame (DC2) holding these tags\n"
           "  receipt 44|85 \"TEXT\" N     send TEXT in N data frames of that file tag\n"
           "  corrupt                    the next frame goes out once with a wrong check byte\n"
           "  slow MS                    write the following frames byte by byte, MS apart (0: off)\n"
           "  raw HEX                    write bytes as they are;  bel = raw 07\n"
           "  sleep MS                   pause\n"
           "  drop                       hang up the line\n"
           "VALUE: TEXT, text:TEXT, u32:N (least significant byte first, as the register\n"
           "reads it), hex:BYTES, echo (the value of that tag in the register's request as\n"
           "it came) or u32:echo (its number, turned to the order the register reads).\n"
           "After each frame sent the terminal waits for ACK; it repeats the frame on NAK\n"
           "(3 times at most) and ends the dialogue on EOT or silence.\n"
           "Numbers are decimal or 0x hex. Every line is checked when the file is read.\n";
}

} // namespace ScenarioParser

} // namespace ecrlink::tool
