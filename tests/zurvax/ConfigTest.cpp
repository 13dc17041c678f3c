// Emulation files: sample files, and a clear message for each kind of mistake.
#include "TestSupport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

class ConfigTest : public LibraryTest {
protected:
    std::pair<std::uint32_t, std::string> open() {
        char message[512] = {};
        const std::uint32_t status = ZurvaxOpen(message, sizeof message);
        return {status, message};
    }
};

TEST_F(ConfigTest, SampleFileWithEveryDeviceKey) {
    useEmulationFile(DataFile("two_drives.json"));
    ASSERT_EQ(open().first, 0u);
    EXPECT_EQ(GetDeviceType(2), 8);
    EXPECT_EQ(GetDeviceType(3), 1); // "end_of_list": "inquiry"
    INQUIRY_DATA data{};
    EXPECT_EQ(ReadRawInquiryData(3, &data), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0100");
    EXPECT_EQ(EmulatedDriveState(1)->revision, "0150");
    EXPECT_EQ(GetScsiPath(1).bytes[2], 6);
    EXPECT_EQ(TestUnitReady(1), 0x2900u);
    EXPECT_EQ(TestUnitReady(1), 0u);
}

TEST_F(ConfigTest, BadFileNamesFileDeviceAndKeyAndOffersNoDevice) {
    const std::string path = DataFile("bad_revision.json");
    useEmulationFile(path);
    const auto [status, message] = open();
    EXPECT_EQ(status, ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_EQ(message, path + ": device 1: key \"revision\": longer than 4 characters");
    // Device 0 was fine, but nothing of a half-read file is used.
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    INQUIRY_DATA data{};
    EXPECT_EQ(ReadRawInquiryData(0, &data), ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_FALSE(EmulatedDriveState(0).has_value());
    // The failure stays until the library is reset.
    EXPECT_EQ(open().second, message);
}

TEST_F(ConfigTest, SyntaxErrorTellsLineAndColumn) {
    const std::string path = DataFile("bad_syntax.json");
    useEmulationFile(path);
    const auto [status, message] = open();
    EXPECT_EQ(status, ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_EQ(message.rfind(path + ": line 3, column 27: JSON syntax error: ", 0), 0u) << message;
}

TEST_F(ConfigTest, MissingFile) {
    const std::string path = scratch("absent.json").string();
    useEmulationFile(path);
    const auto [status, message] = open();
    EXPECT_EQ(status, ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_EQ(message.rfind(path + ": cannot open: ", 0), 0u) << message;
}

struct Mistake {
    const char* json;
    const char* message; // after "<file>: "
};

TEST_F(ConfigTest, EachMistakeGetsItsOwnMessage) {
    const std::vector<Mistake> mistakes = {
        {R"([])", "expected an object at the top level"},
        {R"({"device": []})", R"(key "device": unknown key)"},
        {R"({"devices": {}})", R"(key "devices": expected an array, got object)"},
        {R"({"end_of_list": "never"})",
         R"(key "end_of_list": "never" is neither "device_type" nor "inquiry")"},
        {R"({"end_of_list": 1})", R"(key "end_of_list": expected a string, got number)"},
        {R"({"devices": [ 5 ]})", "device 0: expected an object"},
        {R"({"devices": [ {}, {"colour": "red"} ]})", R"(device 1: key "colour": unknown key)"},
        {R"({"devices": [ {"type": "1"} ]})",
         R"(device 0: key "type": expected an integer, got string)"},
        {R"({"devices": [ {"type": 1.5} ]})",
         R"(device 0: key "type": expected an integer, got a fraction)"},
        {R"({"devices": [ {"type": 32} ]})", R"(device 0: key "type": 32 is out of range 0-31)"},
        {R"({"devices": [ {"type": -1} ]})", R"(device 0: key "type": -1 is out of range 0-31)"},
        {R"({"devices": [ {"qualifier": 8} ]})",
         R"(device 0: key "qualifier": 8 is out of range 0-7)"},
        {R"({"devices": [ {"vendor": "NINECHARS"} ]})",
         R"(device 0: key "vendor": longer than 8 characters)"},
        {R"({"devices": [ {"product": "SEVENTEEN-CHARS-X"} ]})",
         R"(device 0: key "product": longer than 16 characters)"},
        {R"({"devices": [ {"revision": "01500"} ]})",
         R"(device 0: key "revision": longer than 4 characters)"},
        {R"({"devices": [ {"vendor": "T\tB"} ]})",
         R"(device 0: key "vendor": contains a character that is not printable ASCII)"},
        {R"({"devices": [ {"inquiry": "0g"} ]})",
         R"(device 0: key "inquiry": bad hex: 'g' at position 1)"},
        {R"({"devices": [ {"inquiry": "012"} ]})",
         R"(device 0: key "inquiry": bad hex: odd number of digits)"},
        {R"({"devices": [ {"inquiry": "0102"} ]})",
         R"(device 0: key "inquiry": expected 36 bytes, got 2)"},
        {R"({"devices": [ {"host_adapter": 256} ]})",
         R"(device 0: key "host_adapter": 256 is out of range 0-255)"},
        {R"({"devices": [ {"target": -1} ]})",
         R"(device 0: key "target": -1 is out of range 0-255)"},
        {R"({"devices": [ {"lun": "0"} ]})",
         R"(device 0: key "lun": expected an integer, got string)"},
        {R"({"devices": [ {"medium": "yes"} ]})",
         R"(device 0: key "medium": expected true or false, got string)"},
        {R"({"devices": [ {"check_image": 1} ]})",
         R"(device 0: key "check_image": expected true or false, got number)"},
        {R"({"devices": [ {"power_on_attention": null} ]})",
         R"(device 0: key "power_on_attention": expected true or false, got null)"},
        {R"({"devices": [ {"sense": ""} ]})",
         R"(device 0: key "sense": expected 1 to 252 bytes, got 0)"},
        {R"({"devices": [ {"sense": "7 00"} ]})",
         R"(device 0: key "sense": bad hex: odd digit before position 1)"},
        {R"({"devices": [ {"activation_polls": -2} ]})",
         R"(device 0: key "activation_polls": -2 is out of range -1-1000000)"},
        {R"({"devices": [ {"faults": {}} ]})",
         R"(device 0: key "faults": expected an array, got object)"},
        {R"({"devices": [ {"faults": [ 1 ]} ]})",
         R"(device 0: key "faults": entry 0: expected an object)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": 1, "when": 2} ]} ]})",
         R"(device 0: key "faults": entry 0: key "when": unknown key)"},
        {R"({"devices": [ {"faults": [ {"status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "op": missing)"},
        {R"({"devices": [ {"faults": [ {"op": "Inquiry", "status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "op": unknown operation "Inquiry")"},
        {R"({"devices": [ {"faults": [ {"op": "*", "mode": 32, "status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "mode": 32 is out of range 0-31)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "from": 0, "status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "from": 0 is out of range 1-9223372036854775807)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "count": -1, "status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "count": -1 is out of range 0-9223372036854775807)"},
        {R"({"devices": [ {"faults": [ {"op": "*"} ]} ]})",
         R"(device 0: key "faults": entry 0: needs "status" or "corrupt": true)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "corrupt": false} ]} ]})",
         R"(device 0: key "faults": entry 0: needs "status" or "corrupt": true)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "corrupt": true, "status": 1} ]} ]})",
         R"(device 0: key "faults": entry 0: "status" and "corrupt" exclude each other)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": "0xZZ"} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": bad hex: 'Z' in "0xZZ")"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": "12"} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": "12" is not a "0x..." number of at most 8 hex digits)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": "0x123456789"} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": "0x123456789" is not a "0x..." number of at most 8 hex digits)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": -1} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": -1 is out of range 0-0xffffffff)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": 4294967296} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": 4294967296 is out of range 0-0xffffffff)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": true} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": expected a number or a "0x..." string, got boolean)"},
        {R"({"devices": [ {"serial": ""} ]})", R"(device 0: key "serial": empty)"},
        {R"({"devices": [ {"serial": "AB12 "} ]})",
         R"(device 0: key "serial": begins or ends with a blank)"},
        {R"({"devices": [ {"serial": 42} ]})",
         R"(device 0: key "serial": expected a string, got number)"},
        {R"({"state_file": "s.json", "devices": [ {"serial": "SN1"}, {}, {"serial": "SN1"} ]})",
         R"(device 2: serial number "SN1" is device 0's too)"},
        {R"({"state_file": "s.json", "devices": [ {"serial": "EMU0000002"}, {} ]})",
         R"(device 1: serial number "EMU0000002" is device 0's too)"},
        {R"({"devices": [ {"tape_in_use": "yes"} ]})",
         R"(device 0: key "tape_in_use": expected true or false, got string)"},
        {R"({"state_file": 1})", R"(key "state_file": expected a string, got number)"},
        {R"({"state_file": ""})", R"(key "state_file": empty)"},
        // The file's own text comes back escaped, so the message stays one printable line.
        {R"({"devices": [ {"s\nse": "70"} ]})", R"(device 0: key "s\nse": unknown key)"},
        {R"({"d\u00e9vices": []})", R"(key "d\u00e9vices": unknown key)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": "0\r"} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": "0\r" is not a "0x..." number of at most 8 hex digits)"},
        {R"({"devices": [ {"faults": [ {"op": "*", "status": "0x1\u0007"} ]} ]})",
         R"(device 0: key "faults": entry 0: key "status": bad hex: '\u0007' in "0x1\u0007")"},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.json);
        const std::string path = useEmulation(mistake.json);
        const auto [status, message] = open();
        EXPECT_EQ(status, ZURVAX_STATUS_BAD_EMULATION_FILE);
        EXPECT_EQ(message, path + ": " + mistake.message);
        EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    }
}

TEST_F(ConfigTest, SerialNumberOfTheLongestLength) {
    useEmulation(R"({"devices": [ {"serial": ")" + std::string(251, 'S') + R"("} ]})");
    EXPECT_EQ(EmulatedDriveState(0)->serial, std::string(251, 'S'));
    const std::string path =
        useEmulation(R"({"devices": [ {"serial": ")" + std::string(252, 'S') + R"("} ]})");
    EXPECT_EQ(open().second, path + R"(: device 0: key "serial": longer than 251 characters)");
}

TEST_F(ConfigTest, DrivesKeepTheirFirmwareInTheStateFile) {
    std::filesystem::create_directory(scratch("kept"));
    const auto state = scratch("kept") / "drives.json";
    useEmulation(
        R"({"state_file": "kept/drives.json", "devices": [ {"power_on_attention": false}, {} ]})");
    ASSERT_EQ(open().first, 0u) << "no state file yet: a first run";
    std::string image = std::string(kImageMagic) + "0200";
    ASSERT_EQ(WriteBuffer(0, 5, 0, 0, static_cast<std::uint32_t>(image.size()),
                          reinterpret_cast<std::uint8_t*>(image.data())),
              0u);
    // Kept as soon as the drive took it, before its activation ends.
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0100");
    EXPECT_TRUE(std::filesystem::exists(state));

    Reset();
    ASSERT_EQ(open().first, 0u);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0200");
    EXPECT_EQ(EmulatedDriveState(1)->revision, "0100");

    // The next image replaces the file that is there.
    image = std::string(kImageMagic) + "0300";
    ASSERT_EQ(WriteBuffer(1, 5, 0, 0, static_cast<std::uint32_t>(image.size()),
                          reinterpret_cast<std::uint8_t*>(image.data())),
              0x2900u); // its power-on attention
    ASSERT_EQ(WriteBuffer(1, 5, 0, 0, static_cast<std::uint32_t>(image.size()),
                          reinterpret_cast<std::uint8_t*>(image.data())),
              0u);
    Reset();
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0200");
    EXPECT_EQ(EmulatedDriveState(1)->revision, "0300");
    // The lock file stays (removing it would let two writers lock two files).
    EXPECT_FALSE(std::filesystem::exists(state.string() + ".tmp")) << "no temporary left";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch("kept")), {}), 2);
}

TEST_F(ConfigTest, AStateFileThatCannotBeReadIsAnOpenError) {
    const auto state = scratch("state.json").string();
    const std::vector<Mistake> mistakes = {
        {"{", "line 1, column 1: JSON syntax error: "},
        {"[]", "expected an object at the top level"},
        {R"({"drives": {"EMU0000001": {"revision": "02000"}}})",
         R"(drive "EMU0000001": key "revision": longer than 4 characters)"},
        {R"({"drives": {"EMU0000001": {"revision": "02"}}})",
         R"(drive "EMU0000001": key "revision": expected 4 characters)"},
        {R"({"drives": {"EMU0000001": {"rev": "0200"}}})",
         R"(drive "EMU0000001": key "rev": unknown key)"},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.json);
        std::ofstream(state, std::ios::binary) << mistake.json;
        useEmulation(R"({"state_file": "state.json", "devices": [ {} ]})");
        const auto [status, message] = open();
        EXPECT_EQ(status, ZURVAX_STATUS_BAD_EMULATION_FILE);
        EXPECT_EQ(message.rfind(state + ": " + mistake.message, 0), 0u) << message;
        EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    }
}

TEST(ParseEmulation, ValidKeysGiveTheirValues) {
    const auto outcome = ParseEmulation(R"({"devices": [ {"lun": 7, "activation_polls": -1,
        "check_image": false, "power_on_attention": false, "sense": "70000200",
        "faults": [ {"op": "WriteBuffer", "mode": 5, "from": 3, "count": 0, "corrupt": true} ]} ]})",
                                        "x.json");
    const auto* config = std::get_if<EmulationConfig>(&outcome);
    ASSERT_NE(config, nullptr) << std::get<ConfigError>(outcome).message;
    ASSERT_EQ(config->devices.size(), 1u);
    const DeviceConfig& device = config->devices[0];
    EXPECT_EQ(device.path, (DevicePath{0, 0, 0, 7}));
    EXPECT_EQ(device.drive.activationPolls, -1);
    EXPECT_FALSE(device.drive.checkImage);
    EXPECT_FALSE(device.drive.powerOnAttention);
    EXPECT_EQ(device.drive.sense, (std::vector<std::uint8_t>{0x70, 0x00, 0x02, 0x00}));
    ASSERT_EQ(device.faults.size(), 1u);
    EXPECT_EQ(device.faults[0].op, Operation::WriteBuffer);
    EXPECT_EQ(device.faults[0].mode, 5);
    EXPECT_EQ(device.faults[0].from, 3u);
    EXPECT_EQ(device.faults[0].count, 0u);
    EXPECT_TRUE(device.faults[0].corrupt);
}

} // namespace
} // namespace zurvax::test
