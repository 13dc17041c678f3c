// The fuzz targets: each takes arbitrary bytes, drives one reader of untrusted input and
// aborts on a broken property. The same functions are linked into libFuzzer programs
// (FWUPGRADE_FUZZ builds) and into the replay test of the ordinary builds, so a crash
// once found stays a test case for every compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace fuzz {

// A text field of untrusted input as a display must show it: its own bytes up to the first
// zero, never more than its width.
inline std::string Field(const std::uint8_t* bytes, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width && bytes[i] != 0; ++i)
        text.push_back(static_cast<char>(bytes[i]));
    return text;
}

using Target = int (*)(const std::uint8_t* data, std::size_t size);

int SenseText(const std::uint8_t* data, std::size_t size);
int ListEntry(const std::uint8_t* data, std::size_t size);
int EmulationConfig(const std::uint8_t* data, std::size_t size);
int EmulatedDrive(const std::uint8_t* data, std::size_t size);
int RegFile(const std::uint8_t* data, std::size_t size);
int Classify(const std::uint8_t* data, std::size_t size);
#ifdef __linux__
int SgTransport(const std::uint8_t* data, std::size_t size);
#endif

struct NamedTarget {
    const char* name; // also the folder of its corpus and its regressions
    Target run;
};

inline constexpr NamedTarget kTargets[] = {
    {"sense_text", SenseText},
    {"list_entry", ListEntry},
    {"emulation_config", EmulationConfig},
    {"emulated_drive", EmulatedDrive},
    {"reg_file", RegFile},
    {"classify", Classify},
#ifdef __linux__
    {"sg_transport", SgTransport},
#endif
};

// abort() rather than an exception: libFuzzer records the input, and the replay test
// stops at the case that broke.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(__FILE__, __LINE__, #condition))

// Takes fields off the front of the input; past its end every read gives zeros, so any
// input, even an empty one, is a complete case.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
    std::uint32_t U32() {
        return static_cast<std::uint32_t>(U16()) | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::uint64_t U64() {
        return static_cast<std::uint64_t>(U32()) | (static_cast<std::uint64_t>(U32()) << 32);
    }
    bool Bool() { return (Byte() & 1) != 0; }
    // Up to count bytes; fewer when the input runs out.
    std::span<const std::uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < Left() ? count : Left();
        const std::span<const std::uint8_t> bytes(m_data + m_at, n);
        m_at += n;
        return bytes;
    }
    std::span<const std::uint8_t> Rest() { return Bytes(Left()); }
    std::size_t Left() const { return m_size - m_at; }
    bool Done() const { return m_at >= m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace fuzz
