// Names are bytes on POSIX: every name the system gives is kept byte for
// byte, and only text for the host turns the stray bytes into U+FFFD.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "support/test_files.h"

namespace vesk::platform {
namespace {

// Every name the system can give comes back byte for byte.
TEST(PathText, KeepsTheBytesOfEveryName) {
  for (const std::string bytes :
       {"plain/名字.vl", "eng\xB5\xE7", "\xED\xA0\x80", "\xF0\x9F\x98\x80\xF0",
        "a\xC0\x80"
        "b",
        "\xFF", "\xE4\xB8"}) {
    const std::u16string text = PathText(std::filesystem::path(bytes));
    EXPECT_EQ(NativePath(text).native(), bytes) << bytes;
  }
  EXPECT_EQ(PathText(std::filesystem::path("中/\U0001F600")), u"中/\U0001F600");
  EXPECT_EQ(PathText(std::filesystem::path("a\xB5")), u"a\xDCB5");
}

TEST(HostText, ReplacesLoneSurrogatesOnly) {
  EXPECT_EQ(HostText(u"a\xDCB5\xDCE7"
                     u"b"),
            u"a\uFFFD\uFFFDb");
  EXPECT_EQ(HostText(u"\U0001F600\xD800"), u"\U0001F600\uFFFD");
  EXPECT_EQ(HostText(u"中文"), u"中文");
}

TEST(OpenFile, OpensANameThatIsNotUtf8) {
  test::TempDir dir;
  const auto path = dir.Write("v\xB5.vl", std::string("xyz"));
  const auto bytes = ReadWholeFile(PathText(path));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 3u);
}

}  // namespace
}  // namespace vesk::platform
