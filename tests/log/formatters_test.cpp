#include <gtest/gtest.h>

#include "app/log.h"
#include "app/string_table.h"

namespace {

TEST(FormatSize, ChoosesKilobytesMegabytesOrGigabytesAtTheBinaryBoundaries) {
    EXPECT_EQ(FormatSize(0), "0 KB");
    EXPECT_EQ(FormatSize(1023), "0 KB");
    EXPECT_EQ(FormatSize(1024), "1 KB");
    EXPECT_EQ(FormatSize(1048575), "1023 KB");
    EXPECT_EQ(FormatSize(1048576), "1 MB");
    EXPECT_EQ(FormatSize(1073741823), "1023 MB");
    EXPECT_EQ(FormatSize(1073741824), "1.000 GB");
    EXPECT_EQ(FormatSize(5ull << 30), "5.000 GB");
    EXPECT_EQ(FormatSize(34359738368ull), "32.000 GB");
}

TEST(FormatHex, ShowsOnlyTheLowBitsPaddedWithZeros) {
    EXPECT_EQ(FormatHex2(0x5), "05");
    EXPECT_EQ(FormatHex2(0x1AB), "AB");
    EXPECT_EQ(FormatHex4(0xA), "0x000A");
    EXPECT_EQ(FormatHex4(0x12345), "0x2345");
    EXPECT_EQ(FormatHex8(997), "0x000003E5");
    EXPECT_EQ(FormatHex8(0xFFFFFFFFu), "0xFFFFFFFF");
}

TEST(FormatDec, WritesNegativeNumbersWithAMinusSign) {
    EXPECT_EQ(FormatDec(0), "0");
    EXPECT_EQ(FormatDec(-1), "-1");
    EXPECT_EQ(FormatDec(2147483647), "2147483647");
    EXPECT_EQ(FormatDec(-2147483647 - 1), "-2147483648");
}

TEST(LoadResString, GivesTheEntryOrAnEmptyText) {
    EXPECT_EQ(LoadResString(118), "0: No Log file");
    EXPECT_EQ(LoadResString(121), "3: All information");
    EXPECT_EQ(LoadResString(110), "Receiver was disconnected!\r\nWaiting to reconnect...");
    EXPECT_EQ(LoadResString(9999), "");
}

}  // namespace
