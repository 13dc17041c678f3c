// CString as the program uses it: formatting, trimming and comparing by unsigned codes.
#include <gtest/gtest.h>

#include "framework/CString.h"

namespace {

using fw::CString;

TEST(CString, FormatHandlesLongTextsAndPrecision) {
    CString text;
    const std::string longText(5000, 'x');
    text.Format("%s|%.3s", longText.c_str(), "abcdef");
    EXPECT_EQ(text.GetLength(), 5004);
    EXPECT_EQ(std::string(text.c_str()).substr(5000), "|abc");
}

TEST(CString, TrimRightRemovesOnlyTrailingWhiteSpace) {
    CString text(" a b \t\r\n");
    text.TrimRight();
    EXPECT_EQ(text, " a b");
    CString blank("    ");
    EXPECT_TRUE(blank.TrimRight().IsEmpty());
}

TEST(CString, UpperCaseAndComparisonByUnsignedCodes) {
    CString text("a1\xE9z");
    text.MakeUpper();
    EXPECT_EQ(text, "A1\xE9Z") << "only a-z change";
    EXPECT_GT(CString("\xE9").Compare("z"), 0) << "0xE9 sorts above every ASCII character";
    EXPECT_LT(CString("").Compare("0"), 0);
    EXPECT_EQ(CString("abc").Left(1), "a");
    EXPECT_EQ(CString("").Left(1), "");
}

} // namespace
