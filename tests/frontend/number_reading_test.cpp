#include "frontend/number_reading.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"

namespace vesk {
namespace {

using test::U16;
using test::U8;

std::string Read(std::string_view digits) {
  return U8(ReadNumber(U16(digits)));
}

struct Row {
  const char* digits;
  const char* reading;
};

void ExpectReadings(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(Read(row.digits), row.reading) << "digits " << row.digits;
  }
}

TEST(NumberReading, ZeroAndLeadingZeros) {
  ExpectReadings(
      {{"0", "零"}, {"000", "零"}, {"", "零"}, {"7", "七"}, {"007", "七"}});
}

TEST(NumberReading, TensAtTheHeadReadWithoutOne) {
  ExpectReadings({{"10", "十"}, {"12", "十二"}, {"19", "十九"}});
}

TEST(NumberReading, WithinOneGroup) {
  ExpectReadings({{"20", "二十"},
                  {"100", "一百"},
                  {"101", "一百零一"},
                  {"110", "一百一十"},
                  {"111", "一百一十一"},
                  {"1001", "一千零一"},
                  {"1010", "一千零一十"},
                  {"1100", "一千一百"},
                  {"2000", "二千"},
                  {"2222", "二千二百二十二"}});
}

TEST(NumberReading, TenThousands) {
  ExpectReadings({{"10000", "一万"},
                  {"10001", "一万零一"},
                  {"10010", "一万零一十"},
                  {"10100", "一万零一百"},
                  {"11000", "一万一千"},
                  {"200000", "二十万"},
                  {"12345678", "一千二百三十四万五千六百七十八"}});
}

TEST(NumberReading, HundredMillions) {
  ExpectReadings({{"100000000", "一亿"},
                  {"100000001", "一亿零一"},
                  {"100000010", "一亿零一十"},
                  {"100001000", "一亿零一千"},
                  {"100010000", "一亿一万"},
                  {"100100000", "一亿一十万"},
                  {"100500000", "一亿五十万"},
                  {"1002003004", "十亿二百万三千零四"},
                  {"9999999999", "九十九亿九千九百九十九万九千九百九十九"}});
}

TEST(NumberReading, GroupOfExactlyTwoReadsLiangBeforeWanAndYi) {
  ExpectReadings({{"20000", "两万"},
                  {"22000", "两万二千"},
                  {"200000000", "两亿"},
                  {"200020000", "两亿两万"},
                  {"100020000", "一亿两万"},
                  {"2000000002", "二十亿零二"}});
}

TEST(NumberReading, TwoAsLastDigitOfALargerGroupStaysEr) {
  ExpectReadings({{"120000", "十二万"},
                  {"1200000000", "十二亿"},
                  {"20020002", "二千零二万零二"},
                  {"1020000", "一百零二万"},
                  {"3220000", "三百二十二万"},
                  {"10200000000", ""}});
}

TEST(NumberReading, ErBeforeQianAndBaiIsNeverReplaced) {
  ExpectReadings({{"2200", "二千二百"}, {"200", "二百"}, {"2", "二"}});
}

TEST(NumberReading, TooLargeForNumberReadingGivesEmpty) {
  ExpectReadings({{"10000000000", ""},
                  {"13800138000", ""},
                  {"99999999999999999999999999", ""},
                  {"0010000000000", ""}});
  // Leading zeros do not count towards the limit.
  EXPECT_EQ(Read("0009999999999"), "九十九亿九千九百九十九万九千九百九十九");
}

TEST(NumberReading, NonDigitRunIsNotReadAsANumber) {
  EXPECT_EQ(Read("abc"), "");
  EXPECT_EQ(Read("-5"), "");
}

TEST(DigitGroup, ContinuedGroupReadsTensWithOne) {
  EXPECT_EQ(U8(ReadDigitGroup(10, true)), "一十");
  EXPECT_EQ(U8(ReadDigitGroup(15, true)), "一十五");
  EXPECT_EQ(U8(ReadDigitGroup(15, false)), "十五");
  EXPECT_EQ(U8(ReadDigitGroup(115, true)), "一百一十五");
}

TEST(DigitGroup, ZerosCollapseInsideAndVanishAtBothEnds) {
  EXPECT_EQ(U8(ReadDigitGroup(0, false)), "");
  EXPECT_EQ(U8(ReadDigitGroup(5, true)), "五");
  EXPECT_EQ(U8(ReadDigitGroup(1001, false)), "一千零一");
  EXPECT_EQ(U8(ReadDigitGroup(9000, false)), "九千");
  EXPECT_EQ(U8(ReadDigitGroup(9090, false)), "九千零九十");
}

TEST(DigitGroup, ValueBeyondFourDigitsReadsOnlyTheLowFour) {
  EXPECT_EQ(U8(ReadDigitGroup(12345, false)), "二千三百四十五");
  EXPECT_EQ(U8(ReadDigitGroup(10000, false)), "");
  EXPECT_EQ(U8(ReadDigitGroup(UINT32_MAX, false)),
            U8(ReadDigitGroup(7295, false)));
}

TEST(NumberReading, ContinuedLowGroupAfterWanAndYi) {
  ExpectReadings({{"100000015", "一亿零一十五"},
                  {"10015", "一万零一十五"},
                  {"100150000", "一亿一十五万"}});
}

}  // namespace
}  // namespace vesk
