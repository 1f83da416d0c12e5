// Pieces of the run sequence that stand on their own.
#include <gtest/gtest.h>

#include "framework/walk.h"
#include "ipconv/run.h"
#include "platform/platform.h"
#include "support/test_support.h"

TEST(FormatThousands, GroupsDigitsByThree) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {123456, "123,456"}, {1234567, "1,234,567"},
      {-1234, "-1,234"}, {-999, "-999"}, {INT64_MAX, "9,223,372,036,854,775,807"},
      {INT64_MIN, "-9,223,372,036,854,775,808"}};
  for (const auto& [value, text] : cases) {
    g_bytes_counted = value;
    EXPECT_STREQ(format_thousands(), text) << value;
  }
}

TEST(VolumeType, OrdinaryDirectoryIsOther) {
  test::TempDir tmp;
  dirfullpath = tmp.u16();
  const int type = volume_type();
  EXPECT_TRUE(type == 1 || type == 2 || type == 4) << type;
  dirfullpath = tmp.u16() + u"/absent/deeper";
  if (plat::volume_root(dirfullpath) == dirfullpath) {
    EXPECT_EQ(volume_type(), 0);
  }
}
