#include "cli/Image.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "framework/afxwin.h"
#include "upgrade/Sha256.h"

namespace cli {

std::optional<std::string> ParseDigest(const std::string& text) {
    constexpr std::size_t kDigits = 64;
    if (text.size() != kDigits || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower;
}

std::variant<RunImage, std::string> ReadImage(const std::string& path, const std::string& pinned,
                                              PrivateFolder* copyInto) {
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite)) {
        return "the image " + path + " cannot be opened as a regular file";
    }
    const DWORD length = file.GetLength();
    if (length == 0) {
        return "the image " + path + " is empty";
    }
    if (length > kLargestImage) {
        return "the image " + path + " is larger than a drive takes (16 MiB)";
    }
    RunImage image;
    image.path = path;
    image.copy = path;
    std::unique_ptr<NewFile> copy;
    if (copyInto != nullptr) {
        if (!copyInto->Made()) {
            return "no private folder for the image's copy could be made";
        }
        image.copy = copyInto->Adopt("image.bin");
        copy = std::make_unique<NewFile>(image.copy);
        if (!copy->Opened()) {
            return "the image's copy " + image.copy + " cannot be made";
        }
    }
    Sha256 digest;
    std::vector<BYTE> chunk(8192);
    for (UINT got = 0; (got = file.Read(chunk.data(), static_cast<UINT>(chunk.size()))) != 0;) {
        if (got == CFile::kReadFailed) {
            return "the image " + path + " cannot be read";
        }
        digest.Update(chunk.data(), got);
        image.size += got;
        if (copy && !copy->Write(chunk.data(), got)) {
            return "the image's copy " + image.copy + " cannot be written";
        }
    }
    // What was read is what counts; a file that changed while it was read is refused rather
    // than sent as a mixture.
    if (image.size != length || file.HasChanged()) {
        return "the image " + path + " changed while it was read";
    }
    if (copy && !copy->Finish()) {
        return "the image's copy " + image.copy + " cannot be written";
    }
    image.sha256 = Sha256::Hex(digest.Finish());
    if (!pinned.empty() && image.sha256 != pinned) {
        return "the image " + path + " has the digest " + image.sha256 + ", not " + pinned +
               " (--sha256)";
    }
    return image;
}

} // namespace cli
