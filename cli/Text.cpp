#include "cli/Text.h"

#include <cstdio>

namespace cli {

std::string JsonText(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string HumanText(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        }
    }
    return text;
}

} // namespace cli
