// The sense display gets fifteen bytes straight from the drive.
#include <memory>
#include <string>

#include "scsi/TapeError.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {
namespace {

const char* const kKeys[16] = {
    "No Sense Data",  "Recovered Error", "Not Ready",      "Medium Error",
    "Hardware Error", "Illegal Request", "Unit Attention", "Data Protect",
    "Blank Check",    "Vendor Specific", "Copy Aborted",   "Command Aborted",
    "Equal",          "Volume Overflow", "Miscompare",     "Reserved",
};

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%xh", value);
    return text;
}

// Written apart from the display's own printf so that the two can disagree.
std::string Expected(const std::uint8_t* b) {
    return "Error Code: \t\t" + Hex(b[0] & 0x7Fu) + "\n" + "Valid:\t\t\t" + Hex((b[0] >> 7) & 1u) +
           "\n" + "Segment Number:\t\t" + Hex(b[1]) + "\n" + "Sense Key: \t\t" +
           kKeys[b[2] & 0x0F] + "\n" + "Incorrect Length Indicator:\t" + Hex((b[2] >> 5) & 1u) +
           "\n" + "End Of Medium:\t\t" + Hex((b[2] >> 6) & 1u) + "\n" + "File Mark:\t\t\t" +
           Hex((b[2] >> 7) & 1u) + "\n" + "Information:\t\t" + Field(b + 3, 4) + "\n" +
           "Additional Length: \t\t" + Hex(b[7]) + "\n" + "Command Specific:\t\t" +
           Field(b + 8, 4) + "\n" + "Sense Code:\t\t" + Hex(b[12]) + "\n" +
           "Sense Code Qualifier:\t" + Hex(b[13]) + "\n" + "Field Unit Code:\t\t" + Hex(b[14]);
}

} // namespace

int SenseText(const std::uint8_t* data, std::size_t size) {
    // A record of its own on the heap: AddressSanitizer sees any read past byte 14.
    const auto sense = std::make_unique<SENSE_DATA>();
    *sense = SENSE_DATA{};
    std::memcpy(sense->bytes, data, size < sizeof sense->bytes ? size : sizeof sense->bytes);

    const CString text = FormatSenseText(*sense);
    const std::string shown(text.c_str(), static_cast<std::size_t>(text.GetLength()));
    FUZZ_CHECK(shown == Expected(sense->bytes));

    // Thirteen lines, plus one for each line break the device put into its text fields.
    std::size_t breaks = 0;
    for (const char c : Field(sense->bytes + 3, 4) + Field(sense->bytes + 8, 4))
        breaks += c == '\n';
    std::size_t lines = 1;
    for (const char c : shown)
        lines += c == '\n';
    FUZZ_CHECK(lines == 13 + breaks);
    return 0;
}

} // namespace fuzz
