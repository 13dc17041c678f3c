// A list entry carries the drive's own vendor and product bytes, and the selection parses
// whatever text the list holds.
#include <climits>
#include <memory>
#include <string>

#include "devices/ListEntry.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {
namespace {

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2d", value);
    return text;
}

} // namespace

int ListEntry(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    // Small indices are the common case: the low byte alone picks one half of the time.
    const std::uint32_t raw = in.U32();
    const UINT index = (raw & 0x80u) != 0 ? raw & 0x7Fu : raw;
    // Records of their own on the heap: AddressSanitizer sees any read past them.
    const auto path = std::make_unique<SCSI_PATH>();
    *path = SCSI_PATH{};
    const auto inquiry = std::make_unique<INQUIRY_DATA>();
    *inquiry = INQUIRY_DATA{};
    const auto pathBytes = in.Bytes(sizeof path->bytes);
    std::memcpy(path->bytes, pathBytes.data(), pathBytes.size());
    const auto inquiryBytes = in.Bytes(sizeof inquiry->bytes);
    std::memcpy(inquiry->bytes, inquiryBytes.data(), inquiryBytes.size());

    const CString entry = FormatListEntry(index, *path, *inquiry);
    const std::string text(entry.c_str(), static_cast<std::size_t>(entry.GetLength()));
    const std::string expected = TwoDigits(static_cast<int>(index)) + ":HA#" +
                                 TwoDigits(path->bytes[1]) + " TID#" + TwoDigits(path->bytes[2]) +
                                 " " + Field(inquiry->bytes + 8, 8) + " " +
                                 Field(inquiry->bytes + 16, 16) + " ";
    FUZZ_CHECK(text == expected);
    if (index < 100) {
        FUZZ_CHECK(IsDeviceEntry(entry));
        FUZZ_CHECK(EntryDeviceIndex(entry) == index);
    } else if (index <= static_cast<UINT>(INT_MAX)) {
        FUZZ_CHECK(!IsDeviceEntry(entry));
    }

    // Whatever else a list could hold.
    const auto rest = in.Rest();
    const CString other(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
    const bool isEntry = IsDeviceEntry(other);
    FUZZ_CHECK(!isEntry || (rest.size() >= 5 && rest[3] == 'H' && rest[4] == 'A'));
    FUZZ_CHECK(EntryDeviceIndex(other) < 100);
    return 0;
}

} // namespace fuzz
