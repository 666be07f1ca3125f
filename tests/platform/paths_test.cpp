// Path operations of start-up; the same rules on every system.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace vesk::platform {
namespace {

TEST(FileNameRules, ExtensionIsFromTheLastDot) {
  EXPECT_EQ(FileExtension(u"x.vl"), u".vl");
  EXPECT_EQ(FileExtension(u"a.b.vl"), u".vl");
  EXPECT_EQ(FileExtension(u"x.VL"), u".VL");
  EXPECT_EQ(FileExtension(u"x"), u"");
  EXPECT_EQ(FileExtension(u"x."), u".");
  EXPECT_EQ(FileExtension(u"..vl"), u".vl");
}

TEST(FileNameRules, LeadingDotAndDotNamesHaveNoExtension) {
  EXPECT_EQ(FileExtension(u".vl"), u"");
  EXPECT_EQ(FileExtension(u"."), u"");
  EXPECT_EQ(FileExtension(u".."), u"");
  EXPECT_EQ(FileStem(u".vl"), u".vl");
  EXPECT_EQ(FileStem(u".."), u"..");
}

TEST(FileNameRules, NameIsCutAtTheFirstColon) {
  EXPECT_EQ(WithoutStreamSuffix(u"a.vl:stream.txt"), u"a.vl");
  EXPECT_EQ(FileExtension(u"a.vl:stream.txt"), u".vl");
  EXPECT_EQ(FileStem(u"a.vl:stream.txt"), u"a");
  EXPECT_EQ(FileExtension(u"a:b.vl"), u"");
  EXPECT_EQ(FileStem(u"a:b.vl"), u"a");
}

TEST(FileNameRules, StemDropsOnlyTheLastExtension) {
  EXPECT_EQ(FileStem(u"x.vl"), u"x");
  EXPECT_EQ(FileStem(u"a.b.vl"), u"a.b");
  EXPECT_EQ(FileStem(u"..vl"), u".");
  EXPECT_EQ(FileStem(u"noext"), u"noext");
}

TEST(ParentDirectory, RemovesTheLastElementButNeverTheRoot) {
  EXPECT_EQ(ParentDirectory(u"/opt/vesk/libvesksynth.so"), u"/opt/vesk");
  EXPECT_EQ(ParentDirectory(u"/opt/vesk//libvesksynth.so"), u"/opt/vesk");
  EXPECT_EQ(ParentDirectory(u"/libvesksynth.so"), u"/");
  EXPECT_EQ(ParentDirectory(u"//libvesksynth.so"), u"/");
  EXPECT_EQ(ParentDirectory(u"libvesksynth.so"), u"");
}

}  // namespace
}  // namespace vesk::platform
