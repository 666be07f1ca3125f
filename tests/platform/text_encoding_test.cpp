// UTF-8 <-> UTF-16 conversion. Built into the Windows test program too, so
// the table holds for the system converter and for ours alike.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace vesk::platform {
namespace {

constexpr char16_t R = 0xFFFD;

std::u16string Decode(std::initializer_list<unsigned> bytes) {
  std::string raw;
  for (unsigned b : bytes) raw += char(b);
  return Utf8ToUtf16(raw);
}

TEST(Utf8ToUtf16, DecodesValidSequencesOfEveryLength) {
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToUtf16("A"), u"A");
  EXPECT_EQ(Decode({0xC3, 0xBC}), u"\u00FC");
  EXPECT_EQ(Decode({0xE4, 0xB8, 0xAD}), u"\u4E2D");
  EXPECT_EQ(Decode({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600");
  EXPECT_EQ(Decode({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF");
  EXPECT_EQ(Decode({0xEF, 0xBB, 0xBF}), u"\uFEFF");  // kept, not stripped
  EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)),
            std::u16string(u"a\0b", 3));
}

// Short text is decoded on the stack and long text in place: every length
// across the change decodes the same, whichever sequence straddles it.
TEST(Utf8ToUtf16, DecodesAlikeOnBothSidesOfTheShortTextLength) {
  const struct {
    std::string_view utf8;
    std::u16string_view utf16;
  } pieces[] = {
      {"a", u"a"},
      {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xFF", u"\uFFFD"},
      {"\xC3\xBC", u"\u00FC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xED\x9F\xBF", u"\uD7FF"},
  };
  for (std::size_t first = 0; first < std::size(pieces); ++first) {
    std::string utf8;
    std::u16string utf16;
    for (std::size_t k = first; utf8.size() < 160; ++k) {
      utf8 += pieces[k % std::size(pieces)].utf8;
      utf16 += pieces[k % std::size(pieces)].utf16;
      ASSERT_EQ(Utf8ToUtf16(utf8), utf16) << utf8.size() << " bytes";
    }
    // Cut inside a last sequence: one replacement, short or long.
    utf8 += "\xE4\xB8";
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16 + R);
  }
}

TEST(Utf8ToUtf16, EachInvalidByteBecomesOneReplacement) {
  EXPECT_EQ(Decode({0x80}), std::u16string{R});
  EXPECT_EQ(Decode({0xBF, 0x41}), (std::u16string{R, u'A'}));
  EXPECT_EQ(Decode({0xC0, 0x80}), (std::u16string{R, R}));  // overlong
  EXPECT_EQ(Decode({0xC1, 0xBF}), (std::u16string{R, R}));
  EXPECT_EQ(Decode({0xF5, 0x80}), (std::u16string{R, R}));
  EXPECT_EQ(Decode({0xFF}), std::u16string{R});
}

// The Windows converter (code page 65001, no flags) replaces a lead byte
// together with a continuation byte outside the lead's range; the lead is
// replaced alone when the next byte is no continuation byte at all.
TEST(Utf8ToUtf16, OutOfRangeSecondByteGoesWithItsLead) {
  struct Case {
    std::initializer_list<unsigned> bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {{0xE0, 0x80, 0x80}, {R, R}},
      {{0xE0, 0x9F, 0xBF}, {R, R}},
      {{0xED, 0xA0, 0x80}, {R, R}},
      {{0xED, 0xBF, 0xBF}, {R, R}},
      {{0xED, 0xAF, 0xBF, 0xED, 0xBF, 0xBF}, {R, R, R, R}},
      {{0xF0, 0x80, 0x80, 0x80}, {R, R, R}},
      {{0xF0, 0x8F, 0xBF, 0xBF}, {R, R, R}},
      {{0xF4, 0x90, 0x80, 0x80}, {R, R, R}},
      {{0xF4, 0xBF, 0xBF, 0xBF}, {R, R, R}},
      {{0xED, 0xA0}, {R}},
      {{0xE0, 0x41, 0x42}, {R, u'A', u'B'}},
      {{0xED, 0xC3, 0xBC}, {R, u'\u00FC'}},
      {{0xF4, 0x8F, 0x41, 0x42}, {R, u'A', u'B'}},
      {{0xE4, 0x41, 0x80}, {R, u'A', R}},
      {{0xE4, 0xB8, 0xE4, 0xB8, 0xAD}, {R, u'\u4E2D'}},
      {{0xF1, 0x80, 0x80, 0xC0}, {R, R}},
  };
  for (const Case& c : cases) {
    std::string hex;
    for (unsigned b : c.bytes) hex += " " + std::to_string(b);
    EXPECT_EQ(Decode(c.bytes), c.expected) << hex;
  }
}

// 中 followed by an encoded surrogate must read as 中 and two replacements,
// as on Windows, not three.
TEST(Utf8ToUtf16, EncodedSurrogateAfterAWordMatchesWindows) {
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8\xAD\xED\xA0\x80: a"),
            (std::u16string{u'\u4E2D', R, R, u':', u' ', u'a'}));
}

// Where the input ends before the lead's sequence could, everything from the
// lead on is one replacement, whatever the bytes are.
TEST(Utf8ToUtf16, InputEndingInsideASequenceEndsInOneReplacement) {
  EXPECT_EQ(Decode({0x61, 0xE0, 0x41}), (std::u16string{u'a', R}));
  EXPECT_EQ(Decode({0xE4, 0x41}), std::u16string{R});
  EXPECT_EQ(Decode({0xF0, 0x80, 0x80}), std::u16string{R});
  EXPECT_EQ(Decode({0xF4, 0x8F, 0x41}), std::u16string{R});
  EXPECT_EQ(Decode({0xF0, 0xC3, 0xBC}), std::u16string{R});
  EXPECT_EQ(Decode({0xC3, 0xBC, 0xF1, 0x41, 0x42}),
            (std::u16string{u'\u00FC', R}));
}

TEST(Utf8ToUtf16, TruncatedSequenceIsOneReplacement) {
  EXPECT_EQ(Decode({0xE4, 0xB8}), std::u16string{R});
  EXPECT_EQ(Decode({0xE4, 0xB8, 0x41}), (std::u16string{R, u'A'}));
  EXPECT_EQ(Decode({0xF0, 0x9F, 0x98}), std::u16string{R});
  EXPECT_EQ(Decode({0xF0, 0x9F, 0x98, 0xE4, 0xB8, 0xAD}),
            (std::u16string{R, u'\u4E2D'}));
  EXPECT_EQ(Decode({0xC3}), std::u16string{R});
}

TEST(Utf8ToUtf16, EncodedSurrogatesAndBeyondRangeAreInvalid) {
  EXPECT_EQ(Decode({0xED, 0xA0, 0x80}), (std::u16string{R, R}));
  EXPECT_EQ(Decode({0xED, 0x9F, 0xBF}), u"\uD7FF");
  EXPECT_EQ(Decode({0xEE, 0x80, 0x80}), u"\uE000");
  EXPECT_EQ(Decode({0xF4, 0x90, 0x80, 0x80}), (std::u16string{R, R, R}));
}

TEST(Utf16ToUtf8, LoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, u'a'}),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xD83D, 0xDE00}),
            "\xEF\xBF\xBD\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\u4E2D\u00FCx"), "\xE4\xB8\xAD\xC3\xBCx");
}

TEST(Utf16ToUtf8, RoundTripsEveryValidScalarClass) {
  const std::u16string text = u"a\u00FC\u4E2D\uFFFF\U0001F600\U0010FFFF";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
}

}  // namespace
}  // namespace vesk::platform
