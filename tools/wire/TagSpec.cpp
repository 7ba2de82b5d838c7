#include "wire/TagSpec.h"

#include <cerrno>
#include <cstdlib>

namespace ecrtool {

namespace {

bool parseNumber(const std::string& text, std::uint32_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool TagSpec::parse(const std::string& text, ByteOrder numberOrder, bool allowEcho, TagSpec& out,
                    std::string& error) {
    out = TagSpec();
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
        error = "'" + text + "' is not NUM=VALUE";
        return false;
    }
    if (!parseNumber(text.substr(0, eq), out.tag.number)) {
        error = "'" + text.substr(0, eq) + "' is not a tag number (0 to 4294967295)";
        return false;
    }
    const std::string value = text.substr(eq + 1);
    if (allowEcho && (value == "echo" || value == "u32:echo")) {
        out.echo = true;
        out.echoNumber = value == "u32:echo";
        return true;
    }
    if (startsWith(value, "u32:")) {
        std::uint32_t number = 0;
        if (!parseNumber(value.substr(4), number)) {
            error = "'" + value + "' is not a 32-bit unsigned number";
            return false;
        }
        putU32(out.tag.value, number, numberOrder);
    } else if (startsWith(value, "hex:")) {
        std::string why;
        if (!parseHex(value.substr(4), out.tag.value, why)) {
            error = "tag " + std::to_string(out.tag.number) + ": " + why;
            return false;
        }
    } else {
        const std::string plain = startsWith(value, "text:") ? value.substr(5) : value;
        out.tag.value.assign(plain.begin(), plain.end());
    }
    // A tag without value cannot be dumped.
    if (out.tag.value.empty()) {
        error = "tag " + std::to_string(out.tag.number) + " has an empty value";
        return false;
    }
    return true;
}

} // namespace ecrtool
