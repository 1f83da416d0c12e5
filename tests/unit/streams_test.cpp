// Reading named streams: which streams are recorded, the read-error prompt
// and its answers, failed name reads and privilege errors.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "framework/streams.h"
#include "support/test_support.h"

namespace {

// One step of a scripted backup sequence.
struct Step {
  int header_result = 1;  // what read_header answers
  uint32_t attributes = 0;
  uint64_t size = 0;
  std::u16string name;    // empty: an unnamed stream
  long long name_result = -2;  // -2: deliver the whole name; else this many bytes
};

class ScriptedSource : public stream_source {
 public:
  explicit ScriptedSource(std::deque<Step> steps, bool opens = true)
      : steps_(std::move(steps)), opens_(opens) {}

  bool open(const std::u16string& path) override {
    opened_path = path;
    return opens_;
  }
  int read_header(plat::StreamHeader& header) override {
    ++headers_read;
    if (steps_.empty()) return 0;
    current_ = steps_.front();
    steps_.pop_front();
    if (current_.header_result != 1) return current_.header_result;
    header = plat::StreamHeader();
    header.attributes = current_.attributes;
    header.size = current_.size;
    header.name_size = static_cast<uint32_t>(current_.name.size() * 2);
    return 1;
  }
  long long read_name(char16_t* name, uint32_t name_size) override {
    if (current_.name_result == -1) return -1;
    const size_t bytes = current_.name_result == -2 ? name_size
                                                    : static_cast<size_t>(current_.name_result);
    std::copy(current_.name.begin(), current_.name.begin() + static_cast<long>(bytes / 2), name);
    return static_cast<long long>(bytes);
  }
  void skip_data() override { ++skips; }
  void close() override { ++closes; }

  std::u16string opened_path;
  int headers_read = 0;
  int skips = 0;
  int closes = 0;

 private:
  std::deque<Step> steps_;
  Step current_;
  bool opens_;
};

Step named(const std::u16string& name, uint64_t size, uint32_t attributes = 0) {
  Step s;
  s.name = name;
  s.size = size;
  s.attributes = attributes;
  return s;
}
Step unnamed(uint64_t size) {
  Step s;
  s.size = size;
  return s;
}
Step read_error() {
  Step s;
  s.header_result = -1;
  return s;
}

int g_key = -1;
int g_keys_read = 0;
int scripted_key() {
  ++g_keys_read;
  return g_key;
}

class StreamsTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    g_key = -1;
    g_keys_read = 0;
    set_stream_key_reader(scripted_key);
  }
  void TearDown() override { set_stream_key_reader(nullptr); }

  // Runs read_streams_from with standard output captured.
  int read(ScriptedSource& source) {
    testing::internal::CaptureStdout();
    int count = -1;
    try {
      count = read_streams_from(source, u"/vol/data/dir1");
    } catch (const test::RunEnded& ended) {
      out = testing::internal::GetCapturedStdout();
      throw;
    }
    out = testing::internal::GetCapturedStdout();
    return count;
  }

  std::string out;
};

TEST_F(StreamsTest, ObjectThatCannotBeOpenedGivesZeroSilently) {
  ScriptedSource source({named(u":a:$DATA", 1)}, /*opens=*/false);
  EXPECT_EQ(read(source), 0);
  EXPECT_EQ(source.opened_path, u"/vol/data/dir1");
  EXPECT_EQ(source.headers_read, 0);
  EXPECT_EQ(out, "");
}

TEST_F(StreamsTest, UnnamedStreamsAreSkippedNeverRecorded) {
  // Main data, a security descriptor, and an empty unnamed stream.
  ScriptedSource source({unnamed(1000), unnamed(120), unnamed(0)});
  EXPECT_EQ(read(source), 0);
  EXPECT_EQ(source.skips, 2);  // only streams with data to pass over
  EXPECT_EQ(source.closes, 1);
  EXPECT_EQ(out, "");
}

TEST_F(StreamsTest, NamedStreamsAreRecordedInOrderWithTheirHeaders) {
  ScriptedSource source({unnamed(10), named(u":Zone.Identifier:$DATA", 26, 0x8),
                         unnamed(50), named(u":s:$DATA", 0), named(u":big:$DATA", 5000000000ULL)});
  EXPECT_EQ(read(source), 3);
  ASSERT_GE(g_stream_table.size(), 3u);
  EXPECT_EQ(g_stream_table[0].name, u":Zone.Identifier:$DATA");
  EXPECT_EQ(g_stream_table[0].size, 26u);
  EXPECT_EQ(g_stream_table[0].attributes, 0x8u);
  EXPECT_EQ(g_stream_table[0].name_size, 44u);
  EXPECT_EQ(g_stream_table[1].name, u":s:$DATA");
  EXPECT_EQ(g_stream_table[1].size, 0u);
  EXPECT_EQ(g_stream_table[2].size, 5000000000ULL);
  // Data is passed over for the two unnamed and the two non-empty streams.
  EXPECT_EQ(source.skips, 4);
  EXPECT_EQ(source.closes, 1);
}

TEST_F(StreamsTest, EveryCallFillsTheTableFromItsFirstEntry) {
  ScriptedSource first({named(u":one:$DATA", 1), named(u":two:$DATA", 2)});
  EXPECT_EQ(read(first), 2);
  ScriptedSource second({named(u":three:$DATA", 3)});
  EXPECT_EQ(read(second), 1);
  EXPECT_EQ(g_stream_table[0].name, u":three:$DATA");
  EXPECT_EQ(g_stream_table[0].size, 3u);
}

TEST_F(StreamsTest, MoreThanTenStreamsAreAllRecorded) {
  std::deque<Step> steps{unnamed(4)};
  for (int i = 0; i < 25; ++i)
    steps.push_back(named(u":s" + test::u16(std::to_string(i)) + u":$DATA",
                          static_cast<uint64_t>(i)));
  ScriptedSource source(steps);
  EXPECT_EQ(read(source), 25);
  ASSERT_GE(g_stream_table.size(), 25u);
  EXPECT_EQ(g_stream_table[10].name, u":s10:$DATA");
  EXPECT_EQ(g_stream_table[24].name, u":s24:$DATA");
  EXPECT_EQ(g_stream_table[24].size, 24u);
}

TEST_F(StreamsTest, ReadErrorAnsweredYGoesOnWithoutThisObject) {
  ScriptedSource source({named(u":a:$DATA", 1), read_error(), named(u":b:$DATA", 1)});
  g_key = 'Y';
  EXPECT_EQ(read(source), 0);
  EXPECT_EQ(out, test::kStreamReadPrompt);
  EXPECT_EQ(g_stream_errors_ignored, 1);
  EXPECT_EQ(source.closes, 1);

  // Later errors write only a line break, keep what was read, never ask.
  ScriptedSource later({named(u":c:$DATA", 7), read_error(), named(u":d:$DATA", 1)});
  EXPECT_EQ(read(later), 1);
  EXPECT_EQ(out, "\n");
  EXPECT_EQ(g_keys_read, 1);
  EXPECT_EQ(g_stream_table[0].name, u":c:$DATA");
  EXPECT_EQ(later.closes, 1);
}

TEST_F(StreamsTest, ReadErrorAnsweredOtherwiseEndsTheRunAsAborted) {
  for (int key : {int{'y'}, int{'n'}, -1}) {
    g_stream_errors_ignored = 0;
    g_key = key;
    ScriptedSource source({read_error()});
    try {
      read(source);
      ADD_FAILURE() << "the run went on after key " << key;
    } catch (const test::RunEnded& ended) {
      EXPECT_EQ(ended.status, exit_status::user_aborted) << "key " << key;
    }
    EXPECT_EQ(out, test::kStreamReadPrompt);
    EXPECT_EQ(g_stream_errors_ignored, 0);
  }
}

TEST_F(StreamsTest, FailedNameReadReturnsWhatWasRecordedBefore) {
  Step broken = named(u":bad:$DATA", 3);
  broken.name_result = -1;
  ScriptedSource source({named(u":good:$DATA", 9), broken, named(u":later:$DATA", 1)});
  EXPECT_EQ(read(source), 1);
  EXPECT_EQ(out, "\n153");
  EXPECT_EQ(g_stream_table[0].name, u":good:$DATA");
  EXPECT_EQ(source.closes, 1);

  ScriptedSource first_fails({broken});
  EXPECT_EQ(read(first_fails), 0);
}

TEST_F(StreamsTest, ShortNameReadEndsTheObjectQuietly) {
  Step cut = named(u":cut:$DATA", 3);
  cut.name_result = 4;
  ScriptedSource source({named(u":whole:$DATA", 2), cut, named(u":after:$DATA", 1)});
  EXPECT_EQ(read(source), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(source.closes, 1);
}

TEST_F(StreamsTest, NameTooLongForTheReadBufferEndsTheObject) {
  ScriptedSource source(
      {named(u":ok:$DATA", 1), named(std::u16string(9000, u'x'), 1), named(u":no:$DATA", 1)});
  EXPECT_EQ(read(source), 1);
}

TEST_F(StreamsTest, PrivilegeErrorsEndTheRunWithTheirMessages) {
  const struct {
    plat::PrivilegeStatus status;
    const char* message;
  } cases[] = {
      {plat::PrivilegeStatus::token_error,
       "\n264 ..\\..\\..\\INCLUDE_U\\Dmp_fun_u Token open error"},
      {plat::PrivilegeStatus::backup_lookup_error,
       "\n274 ..\\..\\..\\INCLUDE_U\\Dmp_fun_u Privilege error"},
      {plat::PrivilegeStatus::restore_lookup_error,
       "\n281 ..\\..\\..\\INCLUDE_U\\Dmp_fun_u LookupPrivilegeValue error"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    try {
      handle_privilege_status(c.status);
      ADD_FAILURE() << c.message;
    } catch (const test::RunEnded& ended) {
      EXPECT_EQ(ended.status, exit_status::non_specific_error);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(c.message) + "\nTry using the -S option and rerun program\n\n");
  }
  testing::internal::CaptureStdout();
  handle_privilege_status(plat::PrivilegeStatus::ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
