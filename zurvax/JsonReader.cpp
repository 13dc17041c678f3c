#include "zurvax/JsonReader.h"

namespace zurvax {
namespace {

// "line L, column C" of the byte nlohmann reports (1-based count of bytes read).
std::string Where(std::string_view text, std::size_t byte) {
    std::size_t line = 1;
    std::size_t column = 0;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 0;
        } else {
            ++column;
        }
    }
    if (column == 0)
        column = 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// nlohmann's message without its "[json.exception...] parse error at line x, column y: " head.
std::string Reason(const std::string& what) {
    const auto column = what.find("column ");
    const auto colon = what.find(": ", column == std::string::npos ? 0 : column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

} // namespace

std::string ParseJsonText(std::string_view text, const std::string& source, nlohmann::json& top) {
    try {
        top = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& error) {
        return source + ": " + Where(text, error.byte) +
               ": JSON syntax error: " + Reason(error.what());
    } catch (const nlohmann::json::exception& error) {
        return source + ": JSON error: " + Reason(error.what());
    }
    return {};
}

} // namespace zurvax
