// The run's firmware image: read once, hashed, and written as it is read to a private
// read-only copy, which every download of the run (in this process and in its children) reads.
// So the digest the document names is the digest of exactly the bytes every drive is sent,
// whatever happens to the file the operator named while the run goes on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "cli/Files.h"

namespace cli {

// What a drive can take: WRITE BUFFER's buffer offset has 24 bits.
inline constexpr std::uint64_t kLargestImage = std::uint64_t{1} << 24;

struct RunImage {
    std::string path; // as the operator named it
    std::string copy; // what the downloads read: the private copy, or path itself
    std::uint64_t size = 0;
    std::string sha256; // lower-case hex of the bytes read
};

// A digest as --sha256 takes it (64 hex digits, either case), in lower case; nothing for any
// other text.
std::optional<std::string> ParseDigest(const std::string& text);

// Reads the image at path once. Refuses, with a one-line reason, what is not a regular file
// (never waiting on a pipe or a device), an empty image, one larger than a drive takes, one
// that cannot be read, and one whose digest is not pinned (when pinned is not empty). With
// copyInto, the bytes are also written to a read-only copy in that folder, which the result
// names; without, the downloads read path (a copy made by this run's parent).
std::variant<RunImage, std::string> ReadImage(const std::string& path, const std::string& pinned,
                                              PrivateFolder* copyInto);

} // namespace cli
