// SHA-256 (FIPS 180-4) of a byte stream fed in pieces: the image's digest, to tell whether
// the file still holds what was sent and to name the image in reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest of everything fed so far; the object is spent afterwards.
    Digest Finish();

    // Lower-case hexadecimal, 64 characters.
    static std::string Hex(const Digest& digest);

private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_pending{};
    std::size_t m_pendingSize = 0;
    std::uint64_t m_totalBytes = 0;
};
