// SPDX-License-Identifier: MIT
#include "wire/TagTable.h"

#include "ecrlink/TLVMessage.h"

#include <iomanip>
#include <sstream>

namespace ecrlink::tool {
namespace TagTable {

namespace {

constexpr std::size_t MaxHexBytes = 16;
constexpr std::size_t MaxText = 48;

std::string shortHex(const std::uint8_t* data, std::size_t size) {
    if (size <= MaxHexBytes) return toHex(data, size);
    return toHex(data, MaxHexBytes) + " ...";
}

std::string shortText(const std::uint8_t* data, std::size_t size) {
    std::string text = escapeText(data, size);
    if (text.size() > MaxText) text = text.substr(0, MaxText) + "...";
    return "\"" + text + "\"";
}

std::string pieceHeader(const RawTag& tag) {
    const std::uint8_t* v = tag.value.data();
    return "piece " + std::to_string(getU32(v, ByteOrder::LsbFirst)) + "/" +
           std::to_string(getU32(v + 4, ByteOrder::LsbFirst));
}

bool hasPieceHeader(const RawTag& tag, bool rawPieces) {
    return rawPieces && CTLVMessage::isFileTag(static_cast<int>(tag.number)) && tag.value.size() >= 8;
}

} // namespace

std::string table(const std::vector<RawTag>& tags, ByteOrder numberOrder, bool rawPieces,
                            const std::string& indent) {
    std::ostringstream out;
    if (tags.empty()) {
        out << indent << "(no tags)\n";
        return out.str();
    }
    out << indent << std::left << std::setw(6) << "tag" << std::setw(6) << "len" << std::setw(52) << "hex"
        << "value\n";
    for (const RawTag& tag : tags) {
        const std::uint8_t* v = tag.value.data();
        const std::size_t n = tag.value.size();
        std::string shown;
        if (hasPieceHeader(tag, rawPieces)) {
            shown = pieceHeader(tag);
            if (n > 8 && isPrintable(v + 8, n - 8)) shown += " " + shortText(v + 8, n - 8);
        } else {
            if (n > 0 && isPrintable(v, n)) shown = shortText(v, n);
            if (n == 4) shown += std::string(shown.empty() ? "" : "  ") + "u32 " + std::to_string(getU32(v, numberOrder));
        }
        out << indent << std::left << std::setw(6) << tag.number << std::setw(6) << n << std::setw(52)
            << shortHex(v, n) << shown << "\n";
    }
    return out.str();
}

std::string summary(const std::vector<RawTag>& tags, ByteOrder numberOrder, bool rawPieces) {
    std::string text;
    for (const RawTag& tag : tags) {
        const std::uint8_t* v = tag.value.data();
        const std::size_t n = tag.value.size();
        if (!text.empty()) text += ' ';
        text += std::to_string(tag.number) + "=";
        if (hasPieceHeader(tag, rawPieces)) {
            text += "[" + pieceHeader(tag) + ", " + std::to_string(n - 8) + " bytes]";
        } else if (n == 4 && !isPrintable(v, n)) {
            text += "u32:" + std::to_string(getU32(v, numberOrder));
        } else if (n > 0 && isPrintable(v, n)) {
            text += shortText(v, n);
        } else {
            text += "hex:" + shortHex(v, n);
        }
    }
    return text.empty() ? "(no tags)" : text;
}

} // namespace TagTable
} // namespace ecrlink::tool
