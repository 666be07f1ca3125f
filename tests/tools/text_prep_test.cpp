// The hosts' text preparation: what each kind of text becomes. Built into
// the Linux tests and the Windows test program; what the engine then says
// for it is posix/text_prep_spoken_test.cpp.
#include "text_prep.h"

#include <gtest/gtest.h>

#include "support/test_files.h"
#include "unicode_services.h"

namespace vesk::test {
namespace {

using textprep::HasChineseSpellOut;
using textprep::PrepareText;
using textprep::PrepOptions;

struct Case {
  const char* text;
  const char* prepared;
};

std::string Prepare(std::string_view text, bool readSymbols = true) {
  PrepOptions options;
  options.readSymbols = readSymbols;
  return U8(PrepareText(U16(text), options));
}

void ExpectAll(std::initializer_list<Case> cases, bool readSymbols = true) {
  for (const Case& c : cases) {
    EXPECT_EQ(Prepare(c.text, readSymbols), c.prepared) << "text: " << c.text;
  }
}

TEST(PrepareText, NormalisesFullWidthFormsAndLingAsZero) {
  ExpectAll({
      {"２０２６", "2026"},
      {"ＮＶＤＡ", "NVDA"},
      {"二〇二六年", "二零二六年"},
      {"５㎞", "5千米"},
      {"你好，世界！对吗？", "你好，世界！对吗？"},
      {"", ""},
  });
}

TEST(PrepareText, ReadsNumbersInContext) {
  ExpectAll({
      {"0.25", "0点二五"},
      {"3.14", "3点一 四"},
      {"气温-3度", "气温零下3度"},
      {"-3℃", "零下3摄氏度"},
      {"跌了 -3", "跌了 负3"},
      {"+5", "正5"},
      {"−7", "负7"},
      {"-0.5", "负0点五"},
      {"100%", "百分之100"},
      {"-3%", "负百分之3"},
      {"3‰", "千分之3"},
      {"１００％", "百分之100"},
      {"1,000", "1000"},
      {"1,000,000.5", "1000000点五"},
      {"3/4", "4分之3"},
      {"½", "2分之1"},
      {"1½杯", "1又2分之1杯"},
      {"3⁄4", "4分之3"},
      {"3-5天", "3到5天"},
      {"3~5", "3到5"},
      {"3～5", "3到5"},
      {"1.5~2.5", "1点五到2点五"},
      {"50%-60%", "百分之50到百分之60"},
      {"1.2.3", "1点2点3"},
      {"192.168.1.10", "一 九二点一 六八点一 点一 零"},
      {"v1.2.3", "v1点2点3"},
      {"13812345678", "一 三八一 二三四五六七八"},
      {"电话：010-12345678", "电话，零一 零，一 二三四五六七八"},
      {"电话 12345678", "电话 一 二三四五六七八"},
      {"007", "零零七"},
      {"股票代码600519", "股票代码六零零五一 九"},
      {"90后和00后", "九零后和零零后"},
      {"热线400-800-8888", "热线四零零，八零零，八八八八"},
      {"138 1234 5678", "一 三八 一 二三四 五六七八"},
      {"2个", "两个"},
      {"2万", "两万"},
      {"2kg", "两千克"},
  });
}

TEST(PrepareText, ReadsDatesAndTimes) {
  ExpectAll({
      {"2026年12月9日", "二零二六年12月9日"},
      {"12月9日", "12月9日"},
      {"2026-12-09", "二零二六年12月9日"},
      {"2026/12/9", "二零二六年12月9日"},
      {"2026.12.09", "二零二六年12月9日"},
      {"2026-12", "二零二六年12月"},
      {"1990-2000年", "一 九九零到二零零零年"},
      {"2026年05月09日", "二零二六年05月09日"},
      {"9:05", "9点零5分"},
      {"21:30", "21点30分"},
      {"08:00:30", "8点零分30秒"},
      {"12:00", "12点"},
      {"2:30", "两点30分"},
      {"9:05 am", "上午9点零5分"},
      {"3:30PM", "下午3点30分"},
      {"8:15 p.m.", "下午8点15分"},
      {"9:00-18:00", "9点到18点"},
      {"9:00~9:30 am", "上午9点到9点30分"},
      {"98年3月", "九八年3月"},
      {"08年", "零八年"},
      {"10年", "10年"},
  });
}

TEST(PrepareText, ReadsMoneyUnitsAndMathSigns) {
  ExpectAll({
      {"¥100", "100元"},
      {"￥1,000.50", "1000点五零元"},
      {"$5", "5美元"},
      {"€3.5", "3点五欧元"},
      {"£2", "2英镑"},
      {"100.00元", "100元"},
      {"¥1,299.00", "1299元"},
      {"5元/斤", "5元每斤"},
      {"5MB/s", "5兆字节每秒"},
      {"和/或", "和/或"},
      {"¥10-20", "10到20元"},
      {"30°C", "30摄氏度"},
      {"98.6℉", "98点六华氏度"},
      {"90°", "90度"},
      {"5 km", "5千米"},
      {"100m²", "100平方米"},
      {"120km/h", "120千米每小时"},
      {"500ml", "500毫升"},
      {"2GB", "2吉字节"},
      {"512MB", "512兆字节"},
      {"50Hz", "50赫兹"},
      {"1+2=3", "1加2等于3"},
      {"5-3=2", "5减3等于2"},
      {"3×4", "3乘4"},
      {"8÷2", "8除以2"},
      {"1<2", "1小于2"},
      {"3≥2", "3大于等于2"},
      {"首页 > 新闻", "首页 > 新闻"},
  });
}

TEST(PrepareText, PausesWhereAReaderPauses) {
  ExpectAll({
      {"标题\n正文", "标题，\n正文"},
      {"第一章\r\n\r\n概述", "第一章，\r\n\r\n概述"},
      {"甲；乙：丙、丁", "甲，乙，丙，丁"},
      {"等等……然后", "等等，然后"},
      {"他说——好", "他说，好"},
      {"张三（男）说", "张三，男，说"},
      {"【重要】通知", "重要，通知"},
      {"结束……。", "结束。"},
      {"（开头", "开头"},
      {"好！！！", "好！"},
      {"末尾\n", "末尾\n"},
  });
}

TEST(PrepareText, LeavesWhatTheEngineAlreadyReadsRight) {
  ExpectAll({
      {"Windows 10", "Windows 10"},
      {"ISO-8859-1", "ISO-8859-1"},
      {"x86_64", "x86_64"},
      {"H2O", "H2O"},
      {"第3章", "第3章"},
      {"第2个", "第2个"},
      {"共12345人", "共12345人"},
      {"2026", "2026"},
      {"20000", "20000"},
      // The engine says shi2 er4 wan4, yi4 bai3 ling2 er4 wan4, shi2 er4 yi4.
      {"120000", "120000"},
      {"1020000", "1020000"},
      {"1200000000", "1200000000"},
      {"iPhone 5s", "iPhone 5s"},
      {"5G网络", "5G网络"},
      {"COVID-19", "COVID-19"},
      {"1,2,3", "1,2,3"},
  });
}

TEST(PrepareText, LeavesAmbiguousPatternsToPlainNumbers) {
  ExpectAll({
      {"3:2", "3比2"},
      {"16:9", "16比9"},
      {"1/2", "2分之1"},
      {"12/9", "12/9"},
      {"2-3", "2到3"},
      {"5-3", "5-3"},
      {"12-09", "12-09"},
      {"25:61", "25比61"},
  });
}

TEST(PrepareText, LeavesSymbolNamesToTheServerWithoutSymbolReading) {
  ExpectAll(
      {
          // Number reading stays.
          {"100%", "百分之100"},
          {"-3", "负3"},
          {"¥100", "100元"},
          {"3.14", "3点一 四"},
          {"甲；乙", "甲，乙"},
          // Symbol names go to the server.
          {"1+2=3", "1+2=3"},
          {"5-3=2", "5-3=2"},
          {"A & B", "A & B"},
          {"%", "%"},
          {"¥", "¥"},
      },
      false);
  ExpectAll({{"A & B", "A 和 B"}, {"%", "百分号"}, {"¥", "元"}});
}

TEST(PrepareText, ReadsTheShapesOfNewsAndTables) {
  ExpectAll({
      // A year and its month; a figure among figures and a version stay.
      {"2008/08", "二零零八年8月"},
      {"2008.08", "二零零八年8月"},
      {"2008-08", "二零零八年8月"},
      {"1999.50 2008.08 3000.25", "1999点五零 2008点零八 3000点二五"},
      {"2008.08元", "2008点零八元"},
      {"1.2.3", "1点2点3"},
      // Comparisons between numbers only.
      {"3<=5", "3小于等于5"},
      {"3 >= 2", "3 大于等于 2"},
      {"1!=2", "1不等于2"},
      {"a<=b", "a<等于b"},
      // Currency codes before or after the amount.
      {"CNY 100", "100元"},
      {"RMB100", "100元"},
      {"100 USD", "100美元"},
      {"EUR 5.5", "5点五欧元"},
      {"HKD 1,000", "1000港元"},
      {"500JPY", "500日元"},
      {"USDA", "USDA"},
      {"CNY", "CNY"},
      // Fractions written with blanks; a/b with a >= b stays.
      {"1 / 2", "2分之1"},
      {"12 / 9", "12 / 9"},
      // Scores after a word of sport, but not a time.
      {"比分1-2", "比分1比2"},
      {"主队爆冷2-0获胜", "主队爆冷2比0获胜"},
      {"战胜对手0:1", "战胜对手0比1"},
      {"逆转3:2", "逆转3比2"},
      {"比赛19:30开始", "比赛19点30分开始"},
      {"平均3-5天", "平均3到5天"},
      // Years, small numbers and codes stay without the spell-out.
      {"2026", "2026"},
      {"20", "20"},
      {"电话 2222", "电话 二二二二"},
  });
}

// What the system's Chinese spell-out writes: 两 before 百 and 千 in plain
// integers, and long numbers grouped by thousands as quantities.
TEST(PrepareText, SpellsOutTheNumbersTheEngineWouldMisread) {
  if (!HasChineseSpellOut())
    GTEST_SKIP() << "this system has no Chinese spell-out (on Windows it "
                    "comes with icu.dll, which Wine does not have)";
  ExpectAll({
      {"200", "两百"},
      {"2000", "两千"},
      {"1200", "一千两百"},
      {"12000", "一万两千"},
      {"220", "两百二十"},
      {"12,345,678,901", "一百二十三亿四千五百六十七万八千九百零一"},
  });
}

// Without it those numbers go to the engine as digits, as any plain integer
// does; a grouped number too long for the engine is read digit by digit.
TEST(PrepareText, LeavesNumbersToTheEngineWithoutASpellOut) {
  if (HasChineseSpellOut())
    GTEST_SKIP() << "this system has a Chinese spell-out";
  ExpectAll({
      {"200", "200"},
      {"1200", "1200"},
      {"220", "220"},
      {"12,345,678,901", "一 二三四五六七八九零一"},
  });
}

TEST(PrepareText, HandsOnValidTextFromBrokenInput) {
  const std::u16string broken = {u'a', 0xD800, u'1', 0xDC00, u'b'};
  EXPECT_EQ(PrepareText(broken), u"a1b");
  // What follows an unpaired surrogate is normalised as well.
  const std::u16string fullWidth = {u'你', 0xDC00, u'５', u'㎞'};
  EXPECT_EQ(PrepareText(fullWidth), u"你5千米");
  const std::u16string pair = {0xD83D, 0xDE00, u'2', u'个'};
  EXPECT_EQ(PrepareText(pair), (std::u16string{0xD83D, 0xDE00, u'两', u'个'}));
}

}  // namespace
}  // namespace vesk::test
