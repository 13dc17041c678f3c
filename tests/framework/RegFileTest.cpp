// The .reg file reader that stands in for the registry: what regedit writes must read as
// the registry would answer.
#include <gtest/gtest.h>

#include "framework/registry/RegFile.h"

namespace {

using fw::registry::Parse;
using Bytes = std::vector<std::uint8_t>;

const fw::registry::Value* Find(const fw::registry::ParseResult& result, const std::string& key,
                                const std::string& name) {
    if (!result.hive)
        return nullptr;
    const auto k = result.hive->find(key);
    if (k == result.hive->end())
        return nullptr;
    const auto v = k->second.find(name);
    return v == k->second.end() ? nullptr : &v->second;
}

TEST(RegFile, ValueKindsAsTheAnsiQueryReturnsThem) {
    const auto result = Parse("REGEDIT4\r\n\r\n"
                              "[HKEY_CLASSES_ROOT\\QUORVEL]\r\n"
                              "\"Revision\"=\"0200\"\r\n"
                              "\"Quoted\"=\"a\\\"b\\\\c\"\r\n"
                              "\"Raw\"=hex:30,31,\\\r\n  32\r\n"
                              "\"Number\"=dword:00000031\r\n"
                              "\"Expand\"=hex(2):41,00\r\n"
                              "@=\"default\"\r\n");
    ASSERT_TRUE(result.hive) << result.error;
    const std::string key = "HKEY_CLASSES_ROOT\\QUORVEL";
    ASSERT_NE(Find(result, key, "REVISION"), nullptr);
    EXPECT_EQ(Find(result, key, "REVISION")->bytes, (Bytes{'0', '2', '0', '0', 0}))
        << "with its zero";
    EXPECT_EQ(Find(result, key, "REVISION")->type, 1u);
    EXPECT_EQ(Find(result, key, "QUOTED")->bytes, (Bytes{'a', '"', 'b', '\\', 'c', 0}));
    EXPECT_EQ(Find(result, key, "RAW")->bytes, (Bytes{'0', '1', '2'})) << "continued line";
    EXPECT_EQ(Find(result, key, "RAW")->type, 3u);
    EXPECT_EQ(Find(result, key, "NUMBER")->bytes, (Bytes{0x31, 0, 0, 0}));
    EXPECT_EQ(Find(result, key, "EXPAND")->type, 2u);
    EXPECT_EQ(Find(result, key, "EXPAND")->bytes, (Bytes{'A', 0}));
    EXPECT_EQ(Find(result, key, "")->bytes, (Bytes{'d', 'e', 'f', 'a', 'u', 'l', 't', 0}));
}

TEST(RegFile, Version5FilesInUtf16AndShortRootNames) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKCR\\quorvel]\r\n\"Revision\"=\"1A\"\r\n"
        "\"Wide\"=hex(1):31,00,32,00,00,00\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    const auto result = Parse(utf16);
    ASSERT_TRUE(result.hive) << result.error;
    EXPECT_EQ(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "REVISION")->bytes, (Bytes{'1', 'A', 0}));
    EXPECT_EQ(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "WIDE")->bytes, (Bytes{'1', '2', 0}))
        << "string types narrowed from UTF-16";
}

TEST(RegFile, DeletionsAndMalformedLines) {
    const auto result =
        Parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\QUORVEL]\n\"A\"=\"1\"\n\"B\"=\"2\"\n\"B\"=-\n"
              "\"Bad\"=hex:zz\n\"Short\"=dword:12\nnonsense\n\"Open=\"x\n"
              "[HKEY_CLASSES_ROOT\\GONE]\n\"C\"=\"3\"\n[-HKEY_CLASSES_ROOT\\GONE]\n");
    ASSERT_TRUE(result.hive);
    EXPECT_NE(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "A"), nullptr);
    EXPECT_EQ(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "B"), nullptr);
    EXPECT_EQ(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "BAD"), nullptr);
    EXPECT_EQ(Find(result, "HKEY_CLASSES_ROOT\\QUORVEL", "SHORT"), nullptr);
    EXPECT_EQ(result.hive->count("HKEY_CLASSES_ROOT\\GONE"), 0u);
}

TEST(RegFile, AFileWithoutHeaderIsNoRegistry) {
    for (const char* text : {"", "[HKEY_CLASSES_ROOT\\QUORVEL]\n\"A\"=\"1\"\n", "REGEDIT5\n"}) {
        const auto result = Parse(text);
        EXPECT_FALSE(result.hive) << text;
        EXPECT_FALSE(result.error.empty());
    }
}

} // namespace
