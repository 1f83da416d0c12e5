// The POSIX backup sequence over real extended attributes: "user."
// attributes are an object's named streams.
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "framework/streams.h"
#include "support/test_support.h"

namespace {

class PosixStreamsTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  bool set_stream(const std::filesystem::path& path, const std::string& name,
                  const std::string& value) {
    return setxattr(path.c_str(), ("user." + name).c_str(), value.data(), value.size(), 0) == 0;
  }
  test::TempDir tmp;
};

TEST_F(PosixStreamsTest, AttributesOfADirectoryAreItsNamedStreams) {
  const auto dir = tmp.path() / "d";
  std::filesystem::create_directory(dir);
  if (!set_stream(dir, "s", "12345"))
    GTEST_SKIP() << "the temporary directory's file system keeps no user attributes";
  ASSERT_TRUE(set_stream(dir, "empty", ""));
  // Other name spaces are not streams.
  setxattr(dir.c_str(), "trusted.x", "1", 1, 0);

  testing::internal::CaptureStdout();
  const int count = read_streams(test::u16(dir.string()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(count, 2);
  std::map<std::u16string, uint64_t> found;
  for (int i = 0; i < count; ++i) found[g_stream_table[i].name] = g_stream_table[i].size;
  EXPECT_EQ(found, (std::map<std::u16string, uint64_t>{{u":s:$DATA", 5}, {u":empty:$DATA", 0}}));
}

TEST_F(PosixStreamsTest, PlainFileAndMissingObjectGiveZero) {
  const auto file = tmp.write("f.txt", "main data is not a named stream");
  EXPECT_EQ(read_streams(test::u16(file.string())), 0);
  EXPECT_EQ(read_streams(test::u16((tmp.path() / "missing").string())), 0);
}

}  // namespace
