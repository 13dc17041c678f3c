#include "framework/CString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fw {

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_text.clear();
    } else {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        m_text.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(args);
}

CString CString::Left(int count) const {
    if (count <= 0) {
        return CString();
    }
    return CString(m_text.substr(0, static_cast<std::size_t>(count)));
}

CString& CString::MakeUpper() {
    for (char& c : m_text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return *this;
}

CString& CString::TrimRight() {
    const auto end = m_text.find_last_not_of(" \t\r\n\v\f");
    m_text.erase(end == std::string::npos ? 0 : end + 1);
    return *this;
}

int CString::Compare(const char* other) const { return std::strcmp(m_text.c_str(), other); }

} // namespace fw
