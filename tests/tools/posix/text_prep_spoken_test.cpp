// What the engine says for prepared text, through its lexicon and through
// vesk-pinyin --normalize --spoken, which only the Linux build has.
#include <gtest/gtest.h>

#include "lexicon/pinyin_lexicon.h"
#include "pinyin_tool.h"
#include "support/test_files.h"
#include "text_prep.h"
#include "tools/tool_runner.h"

namespace vesk::test {
namespace {

using textprep::PrepareText;

// The one place the preparation makes up for the engine: its sandhi of 一
// inside a Chinese run would change the 一 of a number read digit by digit.
TEST(PrepareText, KeepsTheToneOfADigitOneThroughTheEngine) {
  TempDir dir;
  const auto chars = dir.Write(
      "pinyin.txt", "点: diǎn\n一: yī\n四: sì\n五: wǔ\n三: sān\n零: líng\n");
  PinyinLexicon lexicon;
  ASSERT_TRUE(lexicon.loadCharDictionary(U16(chars.string())));
  EXPECT_EQ(tool::SpokenLine(lexicon, PrepareText(u"3.14")),
            "san1 dian3 yi1 si4");
  EXPECT_EQ(tool::SpokenLine(lexicon, PrepareText(u"0.15")),
            "ling2 dian3 yi1 wu3");
  // Without the blank the engine reads the run as a word.
  EXPECT_EQ(tool::SpokenLine(lexicon, u"3点一四"), "san1 dian3 yi2 si4");
}

// Through the tool as anyone checks a text: the prepared line, then what
// the engine says for it, with small dictionaries of the characters used.
class NormalizeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string chars;
    for (const auto& [c, reading] :
         std::initializer_list<std::pair<const char*, const char*>>{
             {"今", "jīn"},  {"天", "tiān"}, {"是", "shì"},   {"年", "nián"},
             {"月", "yuè"},  {"日", "rì"},   {"气", "qì"},    {"温", "wēn"},
             {"零", "líng"}, {"下", "xià"},  {"度", "dù"},    {"我", "wǒ"},
             {"用", "yòng"}, {"读", "dú"},   {"屏", "píng"},  {"软", "ruǎn"},
             {"件", "jiàn"}, {"听", "tīng"}, {"新", "xīn"},   {"闻", "wén"},
             {"价", "jià"},  {"格", "gé"},   {"点", "diǎn"},  {"元", "yuán"},
             {"一", "yī"},   {"二", "èr"},   {"三", "sān"},   {"四", "sì"},
             {"五", "wǔ"},   {"六", "liù"},  {"七", "qī"},    {"八", "bā"},
             {"九", "jiǔ"},  {"十", "shí"},  {"百", "bǎi"},   {"千", "qiān"},
             {"分", "fēn"},  {"之", "zhī"},  {"两", "liǎng"}, {"个", "gè"},
             {"到", "dào"},  {"负", "fù"}}) {
      const std::u16string u = U16(c);
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", unsigned(u[0]));
      chars += std::string(code) + ": " + reading + "  # " + c + "\n";
    }
    dir_.Write("pinyin.txt", chars);
    dir_.Write("phrases.txt", "");
  }
  std::string Run(const std::string& text) {
    const auto input = dir_.Write("input.txt", text);
    const ToolRun run = RunTool(VESK_PINYIN_TOOL,
                                {"--normalize", "--spoken", "--dict-dir",
                                 dir_.path().string(), input.string()},
                                dir_.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
  }
  TempDir dir_;
};

TEST_F(NormalizeTool, ReadsTheDemoSentenceAsAListenerExpects) {
  EXPECT_EQ(
      Run("今天是2026年12月9日，气温-3度。我用NVDA读屏软件听新闻，价格是3.14"
          "元。\n"),
      "今天是二零二六年12月9日，气温零下3度。我用NVDA读屏软件听新闻，价格是3点"
      "一 四元。\t"
      "jin1 tian1 shi4 er4 ling2 er4 liu4 nian2 shi2 er4 yue4 jiu3 ri4 , qi4 "
      "wen1 ling2 xia4 san1 du4 , wo3 yong4 N V D A du2 ping2 ruan3 jian4 "
      "ting1 xin1 wen2 , jia4 ge2 shi4 san1 dian3 yi1 si4 yuan2 ,\n");
}

TEST_F(NormalizeTool, PrintsOneLinePerInputLine) {
  EXPECT_EQ(Run("3/4\n\n2个\r\n-5\n"),
            "4分之3\tsi4 fen1 zhi1 san1\n"
            "\t\n"
            "两个\tliang3 ge4\n"
            "负5\tfu4 wu3\n");
}

TEST_F(NormalizeTool, ReadsLongDigitRunsDigitByDigit) {
  EXPECT_EQ(Run("12:05 13800000000\n"),
            "12点零5分 一 三八零零零零零零零零\t"
            "shi2 er4 dian3 ling2 wu3 fen1 yi1 san1 ba1 ling2 ling2 ling2 "
            "ling2 ling2 ling2 ling2 ling2\n");
}

}  // namespace
}  // namespace vesk::test
