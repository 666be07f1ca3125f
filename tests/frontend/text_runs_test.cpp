#include "frontend/text_runs.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vesk {
namespace {

TEST(TextRuns, ClassifiesEachCharacter) {
  const std::vector<std::pair<char16_t, TextRun>> cases{
      {u'\u4DFF', TextRun::Other},
      {u'\u4E00', TextRun::Han},
      {u'\u9FFF', TextRun::Han},
      {u'\uA000', TextRun::Other},
      {u'0', TextRun::Digits},
      {u'9', TextRun::Digits},
      {u'\uFF10', TextRun::Other},  // full-width digit
      {u'a', TextRun::Letters},
      {u'Z', TextRun::Letters},
      {u'\uFF41', TextRun::Other},  // full-width letter
      {u'!', TextRun::SentenceMark},
      {u',', TextRun::SentenceMark},
      {u'.', TextRun::SentenceMark},
      {u'?', TextRun::SentenceMark},
      {u'\u3002', TextRun::SentenceMark},
      {u'\uFF01', TextRun::SentenceMark},
      {u'\uFF0C', TextRun::SentenceMark},
      {u'\uFF1F', TextRun::SentenceMark},
      {u';', TextRun::Other},
      {u'\u3001', TextRun::Other},
      {u' ', TextRun::Other},
      {u'\xD840', TextRun::Other},
  };
  for (const auto& [c, run] : cases) {
    EXPECT_EQ(ClassifyCharacter(c), run) << std::hex << int(c);
  }
}

TEST(TextRuns, RunsOfOneKindAreReadWholeMarksOneByOne) {
  const std::u16string text = u"中文ab12..;\u4E00Z";
  std::vector<std::u16string> runs;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t end = RunEnd(text, i);
    runs.push_back(text.substr(i, end - i));
    i = end;
  }
  EXPECT_EQ(runs, (std::vector<std::u16string>{u"中文", u"ab", u"12", u".",
                                               u".", u";", u"\u4E00", u"Z"}));
}

}  // namespace
}  // namespace vesk
