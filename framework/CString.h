// The framework's 8-bit string: a value type over std::string with the operations the
// program uses. Text is in the system's ANSI code page; no conversion is ever made.
#pragma once

#include <string>
#include <string_view>

namespace fw {

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text != nullptr ? text : "") {}
    CString(std::string text) : m_text(std::move(text)) {}
    CString(std::string_view text) : m_text(text) {}

    // printf-style formatting into this string. The format is the caller's literal.
    void Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    char GetAt(int index) const { return m_text.at(static_cast<std::size_t>(index)); }
    CString Left(int count) const;
    void Empty() { m_text.clear(); }

    // Converts a-z to A-Z only: the comparison it serves is by unsigned character code.
    CString& MakeUpper();
    // Removes trailing blanks, tabs, carriage returns, line feeds, vertical tabs and form
    // feeds, as the C runtime's isspace does in the "C" locale.
    CString& TrimRight();

    // strcmp semantics: <0, 0 or >0, by unsigned character codes.
    int Compare(const char* other) const;

    operator const char*() const { return m_text.c_str(); }
    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }

    CString& operator+=(const CString& other) {
        m_text += other.m_text;
        return *this;
    }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == b; }

private:
    std::string m_text;
};

} // namespace fw
