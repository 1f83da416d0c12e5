// The POSIX platform layer against a real file system: enumeration as the
// walk expects it from FindFirstFileW, lexical full paths, names that are
// not UTF-8, safe replacement of outputs and the stamp arithmetic.
//
// This is the POSIX layer's own test, so it uses the system calls it needs
// to build special files (FIFO, socket) and to set exact times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/name_match.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000ULL;
constexpr uint64_t kEpochDelta = 11644473600ULL;

class PlatformPosixTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }

  std::u16string in_tmp(const std::string& relative) const {
    return tmp.u16() + u"/" + test::u16(relative);
  }

  // Names of one enumeration, in order.
  std::vector<std::string> names(const std::string& search, bool details = true,
                                 bool directories_only = false) {
    std::vector<std::string> out;
    plat::DirSearch search_handle;
    if (directories_only) search_handle.directories_only();
    plat::FindData data;
    if (!search_handle.start(in_tmp(search), data, details)) return out;
    do out.push_back(test::u8(data.name));
    while (search_handle.next(data));
    return out;
  }

  std::optional<plat::FindData> find(const std::string& search, bool details = true) {
    plat::DirSearch s;
    plat::FindData data;
    if (!s.start(in_tmp(search), data, details)) return std::nullopt;
    return data;
  }

  test::TempDir tmp;
};

using Names = std::vector<std::string>;

// ---- Enumeration ------------------------------------------------------------

TEST_F(PlatformPosixTest, ListsDotsFirstThenByUpperCasedUnits) {
  for (const char* name : {"beta", "_under", "Alpha", "alpha", "1st", "Zed"})
    tmp.write(name, "x");
  // '_' lies between the upper- and lower-case letters: a byte order or a
  // lower-casing order would put it elsewhere.
  EXPECT_EQ(names("*"), (Names{".", "..", "1st", "Alpha", "alpha", "beta", "Zed", "_under"}));
  // The order does not depend on the pattern.
  EXPECT_EQ(names("*a*"), (Names{"Alpha", "alpha", "beta"}));
}

TEST_F(PlatformPosixTest, DirectoriesOnlyListingKeepsItsFirstEntryThenOnlyDirectories) {
  for (const char* name : {"a.txt", "m.txt", "b-file"}) tmp.write(name, "x");
  for (const char* name : {"b.txt", "c-dir", "Sub"}) fs::create_directory(tmp.path() / name);
  fs::create_symlink(tmp.path() / "a.txt", tmp.path() / "a-link");
  fs::create_directory_symlink(tmp.path() / "c-dir", tmp.path() / "link-dir");
  for (bool details : {false, true}) {
    SCOPED_TRACE(details ? "details" : "names only");
    EXPECT_EQ(names("*.*", details, true), (Names{".", "..", "b.txt", "c-dir", "link-dir", "Sub"}));
    // Without "." and ".." to lead, the first entry is what the full listing
    // starts with, file or not, so that the search starts whenever it would.
    EXPECT_EQ(names("*.txt", details, true), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(names("*-*", details, true), (Names{"a-link", "c-dir", "link-dir"}));
    EXPECT_EQ(names("m*", details, true), (Names{"m.txt"}));
    EXPECT_EQ(names("*.none", details, true), Names{});
  }
}

TEST_F(PlatformPosixTest, RootOfTheFileSystemHasNoDotEntries) {
  const Names root = [] {
    Names out;
    plat::DirSearch s;
    plat::FindData data;
    if (s.start(u"/*", data)) {
      do out.push_back(test::u8(data.name));
      while (s.next(data));
    }
    return out;
  }();
  ASSERT_FALSE(root.empty());
  for (const auto& name : root) {
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
  }
}

TEST_F(PlatformPosixTest, PatternsIgnoreCaseAndStarDotStarTakesNamesWithoutDot) {
  for (const char* name : {"Report.TXT", "notes.txt", "r1.txt", "data.csv", "README", "x"})
    tmp.write(name, "x");
  EXPECT_EQ(names("*.txt"), (Names{"notes.txt", "r1.txt", "Report.TXT"}));
  EXPECT_EQ(names("R?.TxT"), (Names{"r1.txt"}));
  EXPECT_EQ(names("?"), (Names{"x"}));  // '?' takes no dot, not even "."
  EXPECT_EQ(names("*.*"),
            (Names{".", "..", "data.csv", "notes.txt", "r1.txt", "README", "Report.TXT", "x"}));
  EXPECT_EQ(names("readme.*"), (Names{"README"}));
  EXPECT_EQ(names("*.log"), Names{});
  EXPECT_FALSE(find("missing-dir/*.*"));

  // Trailing dots and blanks of the pattern are dropped, as Win32 path
  // handling drops them; one of nothing else selects nothing.
  const Names txt{"notes.txt", "r1.txt", "Report.TXT"};
  for (const char* pattern : {"*.txt.", "*.txt ", "*.txt. .", "*.TXT.."})
    EXPECT_EQ(names(pattern), txt) << '"' << pattern << '"';
  for (const char* pattern : {"x.", "x ", "X. "}) EXPECT_EQ(names(pattern), (Names{"x"}));
  EXPECT_EQ(names("*."), (Names{".", "..", "README", "x"}));  // no extension
  for (const char* pattern : {"...", " ", ". ."}) EXPECT_EQ(names(pattern), Names{});

  // Every trailing ".*" group may match the end of a name.
  EXPECT_EQ(names("README.*.*"), (Names{"README"}));
  const Names all = names("*.*");
  EXPECT_EQ(names("*.*.*"), all);
  EXPECT_EQ(names("*.**"), all);
  EXPECT_EQ(names("r1.*.*"), (Names{"r1.txt"}));
  EXPECT_EQ(names("*.*.txt"), Names{});  // a ".*" before more text needs its dot
}

// Which names a pattern selects, as FindFirstFileExW rewrites the pattern
// and FsRtlIsNameInExpression matches the rewritten one (both folded).
TEST(NameMatcher, SelectsWhatWindowsSelects) {
  const struct {
    const char16_t* pattern;
    const char16_t* name;
    bool selected;
  } cases[] = {
      // '?' takes one unit that is not a dot, and nothing at a dot or at the end.
      {u"log?.csv", u"log.csv", true},  {u"a?", u"a", true},       {u"a?", u"ab", true},
      {u"a?.txt", u"a.txt", true},      {u"a*?", u"a", true},      {u"??.", u"a", true},
      {u"a?c", u"ac", false},           {u"?a", u".a", false},     {u"I??", u"I.1", false},
      // A ".*" may take the end of the name; a star before a dot stops at
      // the name's last dot.
      {u"a.*", u"a", true},             {u"README.*.*", u"README", true},
      {u"*.*", u"x", true},             {u"*.txt", u"x.txt.bak", false},
      {u"*.c.d", u"a.b.c.d", true},     {u"*.*.txt", u"a.b.txt", true},
      // A pattern that ended in a dot: no extension, through its last star.
      {u"*.txt.", u"notes.txt", true},  {u"*.", u"README", true},  {u"*.", u"data.csv", false},
      {u"a*b.", u"ax.yb", false},
      // What is a wildcard on Windows is a plain unit of a POSIX name here.
      {u"a<b", u"a<b", true},           {u"x<", u"x.txt", false},
  };
  for (const auto& c : cases) {
    const plat::NameMatcher matcher(c.pattern);
    EXPECT_EQ(matcher.matches(c.name), c.selected)
        << test::u8(c.pattern) << " against " << test::u8(c.name);
  }
}

// Case is folded with the upper case Windows gives every unit of the Basic
// Multilingual Plane (it takes U+1C90 for the capital of Georgian U+10D0),
// and the listing is ordered by the same folding.
TEST_F(PlatformPosixTest, CaseIsFoldedAsWindowsFoldsNames) {
  for (const char* name :
       {"ａｂ", "բա", "ǎƀ", "άλ", "ѣґ", "ⓐⓑ", "ⅰ", "ÿ", "ა", "ıx", "ix", "λς", "ß", "ǅ", "ﬁ", "µ"})
    tmp.write(std::string("fold/") + name, "x");
  const struct {
    const char* pattern;
    Names selected;
  } cases[] = {
      {"ＡＢ", {"ａｂ"}},  {"ԲԱ", {"բա"}},  {"ǍɃ", {"ǎƀ"}}, {"ΆΛ", {"άλ"}},
      {"ѢҐ", {"ѣґ"}},      {"ⒶⒷ", {"ⓐⓑ"}}, {"Ⅰ", {"ⅰ"}},   {"Ÿ", {"ÿ"}},
      {"Ა", {"ა"}},
      // Letters Windows leaves as they are.
      {"IX", {"ix"}},      {"ıX", {"ıx"}},  {"ΛΣ", {}},     {"Λς", {"λς"}},
      {"SS", {}},          {"ẞ", {}},       {"Ǆ", {}},      {"ǆ", {}},
      {"FI", {}},          {"Μ", {}},       {"µ", {"µ"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(names(std::string("fold/") + c.pattern), c.selected) << c.pattern;
  // In unit order "ǅ" < "ǆ" and "Ｂ" < "ａ"; folded, "ǆ" is "Ǆ" and "ａ" is "Ａ".
  for (const char* name : {"ǅ", "ǆ", "Ｂ", "ａ"}) tmp.write(std::string("order/") + name, "x");
  EXPECT_EQ(names("order/*"), (Names{".", "..", "ǆ", "ǅ", "ａ", "Ｂ"}));
}

TEST_F(PlatformPosixTest, OnlyADirectoryThatRefusesUsIsUnreadable) {
  tmp.write("d/a.txt", "x");
  fs::create_directory_symlink(tmp.path() / "loop", tmp.path() / "loop");
  struct Case {
    const char* search;
    bool unreadable;
  };
  // A link loop refuses even root, as permissions refuse a user.
  for (const Case& c : {Case{"d/*.log", false}, Case{"missing/*.*", false},
                        Case{"d/a.txt/*.*", false}, Case{"loop/*.*", true}}) {
    plat::DirSearch s;
    plat::FindData data;
    EXPECT_FALSE(s.start(in_tmp(c.search), data)) << c.search;
    EXPECT_EQ(s.unreadable(), c.unreadable) << c.search;
  }
}

TEST_F(PlatformPosixTest, PlainNameIsFoundAlsoInAnotherCase) {
  tmp.write("Exact.txt", "12345");
  auto exact = find("Exact.txt");
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->name, u"Exact.txt");
  EXPECT_EQ(exact->size, 5u);
  auto other_case = find("EXACT.TXT");
  ASSERT_TRUE(other_case);
  EXPECT_EQ(other_case->name, u"Exact.txt");
  EXPECT_FALSE(find("Exact.txt2"));
  // The name is looked up without its trailing dots and blanks, unless
  // one of that very name is there.
  auto trailing = find("Exact.txt. ");
  ASSERT_TRUE(trailing);
  EXPECT_EQ(trailing->name, u"Exact.txt");
  EXPECT_EQ(trailing->size, 5u);
  tmp.write("Exact.txt.", "12");
  for (bool details : {true, false}) {
    trailing = find("Exact.txt.", details);
    ASSERT_TRUE(trailing);
    EXPECT_EQ(trailing->name, u"Exact.txt.");
  }

  // Right after a listing of its directory a plain name costs one query;
  // what that query cannot settle still takes the full way.
  fs::create_directory(tmp.path() / "Sub");
  fs::create_symlink(tmp.path() / "Exact.txt", tmp.path() / "link");
  tmp.write("swap", "old");
  ASSERT_FALSE(names("*", false).empty());
  other_case = find("EXACT.TXT", false);
  ASSERT_TRUE(other_case);
  EXPECT_EQ(other_case->name, u"Exact.txt");
  auto sub = find("Sub", false);
  ASSERT_TRUE(sub);
  EXPECT_NE(sub->attributes & plat::kAttrDirectory, 0u);
  auto link = find("link", false);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->attributes & plat::kAttrDirectory, 0u);
  EXPECT_FALSE(find("missing", false));
  ASSERT_TRUE(find("swap", false));
  // What is read is the file the lookup found, whatever took its place
  // since (here a link to another file).
  fs::remove(tmp.path() / "swap");
  fs::create_symlink(tmp.path() / "Exact.txt", tmp.path() / "swap");
  plat::File swapped;
  ASSERT_TRUE(plat::open_read(in_tmp("swap"), swapped));
  char text[16];
  EXPECT_EQ(swapped.read(text, sizeof text), 3);
  EXPECT_TRUE(swapped.at_end());

  // A directory removed and made again since its listing: its names are
  // looked up, read and written in the one there now.
  fs::create_directory(tmp.path() / "Again");
  tmp.write("Again/a.txt", "old");
  ASSERT_FALSE(names("Again/*", false).empty());
  fs::remove_all(tmp.path() / "Again");
  fs::create_directory(tmp.path() / "Again");
  tmp.write("Again/a.txt", "new!");
  ASSERT_TRUE(find("Again/a.txt", false));
  plat::File again;
  ASSERT_TRUE(plat::open_read(in_tmp("Again/a.txt"), again));
  EXPECT_EQ(again.read(text, sizeof text), 4);
  plat::PendingOutput output;
  ASSERT_EQ(plat::begin_output(in_tmp("Again/a.IP"), output), plat::begin_result::ok);
  ASSERT_TRUE(output.file.write_all("out", 3));
  ASSERT_TRUE(plat::commit_output(output));
  EXPECT_EQ(test::read_file(tmp.path() / "Again/a.IP"), "out");
}

TEST_F(PlatformPosixTest, SpecialFilesAreSkippedAndLinksShowTheirTarget) {
  tmp.write("file.txt", "hello");
  fs::create_directory(tmp.path() / "dir");
  ASSERT_EQ(mkfifo((tmp.path() / "fifo").c_str(), 0666), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = (tmp.path() / "sock").string();
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "dead");
  fs::create_directory_symlink(tmp.path() / "dir", tmp.path() / "dirlink");
  fs::create_symlink(tmp.path() / "file.txt", tmp.path() / "filelink");

  for (bool details : {true, false}) {
    SCOPED_TRACE(details ? "details" : "names only");
    EXPECT_EQ(names("*", details),
              (Names{".", "..", "dead", "dir", "dirlink", "file.txt", "filelink"}));
    auto dead = find("dea?", details);
    ASSERT_TRUE(dead);
    EXPECT_EQ(dead->attributes & plat::kAttrDirectory, 0u);
    EXPECT_EQ(dead->size, 0u);
    auto dirlink = find("dirl*", details);
    ASSERT_TRUE(dirlink);
    EXPECT_NE(dirlink->attributes & plat::kAttrDirectory, 0u);
  }
  auto filelink = find("filel*");
  ASSERT_TRUE(filelink);
  EXPECT_EQ(filelink->size, 5u);
  EXPECT_FALSE(find("fifo"));
  EXPECT_FALSE(find("so?k"));
  close(sock);
}

TEST_F(PlatformPosixTest, AttributeBits) {
  tmp.write(".hidden", "x");
  tmp.write("plain", "x");
  const auto ro = tmp.write("locked", "x");
  fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directory(tmp.path() / "sub");

  std::vector<std::pair<std::string, uint32_t>> seen;
  plat::DirSearch s;
  plat::FindData data;
  ASSERT_TRUE(s.start(in_tmp("*.*"), data));
  do seen.emplace_back(test::u8(data.name), data.attributes);
  while (s.next(data));
  using A = std::vector<std::pair<std::string, uint32_t>>;
  EXPECT_EQ(seen, (A{{".", plat::kAttrDirectory},
                     {"..", plat::kAttrDirectory},
                     {".hidden", plat::kAttrHidden},
                     {"locked", plat::kAttrReadOnly},
                     {"plain", 0},
                     {"sub", plat::kAttrDirectory}}));
}

TEST_F(PlatformPosixTest, StampsCountHundredNanosecondsSince1601) {
  const auto path = tmp.write("stamped", "x");
  timespec times[2];
  times[0] = {1000000000, 999999999};  // access: 2001-09-09 01:46:40.9999999
  times[1] = {1234567890, 123456789};  // write: 2009-02-13 23:31:30.1234567
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  auto data = find("stamped");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->last_write, (1234567890ULL + kEpochDelta) * kUnitsPerSecond + 1234567);
  EXPECT_EQ(data->last_access, (1000000000ULL + kEpochDelta) * kUnitsPerSecond + 9999999);
  // A birth time, where the file system keeps one, is the creation just now.
  if (data->creation != 0) {
    const int64_t now = (std::time(nullptr) + static_cast<int64_t>(kEpochDelta)) *
                        static_cast<int64_t>(kUnitsPerSecond);
    EXPECT_LT(std::abs(now - static_cast<int64_t>(data->creation)),
              static_cast<int64_t>(3600 * kUnitsPerSecond));
  }
  auto stamps = plat::object_stamps(test::u16(path.string()));
  ASSERT_TRUE(stamps);
  EXPECT_EQ(stamps->last_write, data->last_write);
  // A stream path has its object's times; a real name with a colon is itself.
  auto stream = plat::object_stamps(test::u16(path.string()) + u":Zone.Identifier");
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->last_write, data->last_write);
  const auto colon = tmp.write("a:b", "x");
  timespec other[2] = {{5, 0}, {5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, colon.c_str(), other, 0), 0);
  tmp.write("a", "x");
  auto named = plat::object_stamps(test::u16(colon.string()));
  ASSERT_TRUE(named);
  EXPECT_EQ(named->last_write, (5 + kEpochDelta) * kUnitsPerSecond);
  EXPECT_FALSE(plat::object_stamps(in_tmp("missing:s")));
}

TEST_F(PlatformPosixTest, NamesOnlySearchLeavesSizeAndStampsOut) {
  tmp.write("file", "12345");
  auto data = find("f*", false);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->name, u"file");
  EXPECT_EQ(data->attributes, 0u);
  auto full = find("f*", true);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->size, 5u);
  EXPECT_NE(full->last_write, 0u);
}

TEST_F(PlatformPosixTest, NameThatIsNotUtf8RoundTrips) {
  const std::string raw = "bad\xff\xfe.txt";
  const std::string raw_path = tmp.path().string() + "/" + raw;
  const int fd = open(raw_path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "payload", 7), 7);
  close(fd);

  auto data = find("*.txt");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->name, (std::u16string{u'b', u'a', u'd', 0xdcff, 0xdcfe, u'.', u't', u'x', u't'}));
  EXPECT_EQ(plat::to_native(data->name), raw);

  plat::File file;
  ASSERT_TRUE(plat::open_read(tmp.u16() + u"/" + data->name, file));
  char buffer[16];
  EXPECT_EQ(file.read(buffer, sizeof buffer), 7);
  EXPECT_EQ(std::string(buffer, 7), "payload");
  EXPECT_TRUE(find(raw));  // the plain-name lookup of the same name
}

// ---- Paths ------------------------------------------------------------------

TEST_F(PlatformPosixTest, FullPathFoldsLexically) {
  fs::create_directory(tmp.path() / "real");
  fs::create_directory_symlink(tmp.path() / "real", tmp.path() / "link");
  test::ScopedCwd cwd(tmp.path());
  const std::u16string here = *plat::current_dir();
  EXPECT_EQ(plat::full_path(u"a/./b/../c", 1000), here + u"/a/c");
  EXPECT_EQ(plat::full_path(u"samples/", 1000), here + u"/samples/");
  EXPECT_EQ(plat::full_path(u"x//y///", 1000), here + u"/x/y/");
  EXPECT_EQ(plat::full_path(u"link/..", 1000), here);  // no link resolved
  EXPECT_EQ(plat::full_path(u"/", 1000), u"/");
  EXPECT_EQ(plat::full_path(u"/../..", 1000), u"/");
  EXPECT_EQ(plat::full_path(u"//usr/./lib", 1000), u"/usr/lib");
  EXPECT_EQ(plat::full_path(u"/usr/lib/", 9), u"/usr/lib/");
  EXPECT_EQ(plat::full_path(u"/usr/lib/", 8), std::nullopt);
  EXPECT_EQ(plat::full_path(u"", 1000), std::nullopt);
}

TEST_F(PlatformPosixTest, SameFileAndDirectoryIdentityFollowLinks) {
  const auto a = tmp.write("a", "x");
  tmp.write("b", "x");
  fs::create_hard_link(a, tmp.path() / "hard");
  EXPECT_TRUE(plat::same_file(in_tmp("a"), in_tmp("hard")));
  EXPECT_FALSE(plat::same_file(in_tmp("a"), in_tmp("b")));
  EXPECT_FALSE(plat::same_file(in_tmp("a"), in_tmp("missing")));
  fs::create_directory(tmp.path() / "d");
  fs::create_directory_symlink(tmp.path() / "d", tmp.path() / "dl");
  EXPECT_EQ(plat::file_identity(in_tmp("d")), plat::file_identity(in_tmp("dl/")));
  EXPECT_NE(plat::file_identity(in_tmp("d")), plat::file_identity(tmp.u16()));
}

TEST_F(PlatformPosixTest, VolumeNameOfTmpIsNotNtfs) {
  auto name = plat::volume_fs_name(tmp.u16());
  ASSERT_TRUE(name);
  EXPECT_FALSE(name->empty());
  EXPECT_NE(*name, "NTFS");
  EXPECT_FALSE(plat::volume_fs_name(in_tmp("missing/deeper")));
}

// ---- Files ------------------------------------------------------------------

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

using BeginOutput = plat::begin_result (*)(const std::u16string&, plat::PendingOutput&);
const std::pair<const char*, BeginOutput> kOutputForms[] = {
    {"nameless", [](const std::u16string& t, plat::PendingOutput& o) { return plat::begin_output(t, o); }},
    {"named", plat::begin_named_output}};

TEST_F(PlatformPosixTest, ReplacingAnOutputReplacesALinkInsteadOfWritingThroughIt) {
  const auto victim = tmp.write("victim", "keep me");
  for (const auto& [form, begin] : kOutputForms) {
    SCOPED_TRACE(form);
    fs::remove(tmp.path() / "out.IP");
    fs::create_symlink(victim, tmp.path() / "out.IP");
    plat::PendingOutput output;
    ASSERT_EQ(begin(in_tmp("out.IP"), output), plat::begin_result::ok);
    ASSERT_TRUE(output.file.write_all("new", 3));
    ASSERT_TRUE(plat::commit_output(output)) << plat::last_error_text();
    EXPECT_FALSE(fs::is_symlink(tmp.path() / "out.IP"));
    EXPECT_EQ(test::read_file(tmp.path() / "out.IP"), "new");
    EXPECT_EQ(test::read_file(victim), "keep me");
    EXPECT_EQ(entries(tmp.path()), (std::vector<std::string>{"out.IP", "victim"}));
  }
}

TEST_F(PlatformPosixTest, PendingOutputIsInvisibleOrNamedOursAndGoneWhenAbandoned) {
  tmp.write("out.IP", "earlier");
  const std::u16string target = in_tmp("out.IP");
  {
    plat::PendingOutput output;
    ASSERT_EQ(plat::begin_output(target, output), plat::begin_result::ok);
    ASSERT_TRUE(output.file.write_all("partial", 7));
    // /tmp keeps nameless files: nothing shows while the output is written.
    EXPECT_TRUE(output.temp_path.empty());
    EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{"out.IP"});
  }
  plat::PendingOutput first;
  ASSERT_EQ(plat::begin_named_output(target, first), plat::begin_result::ok);
  EXPECT_EQ(first.temp_path.compare(0, target.size() + 9, target + u".~ipconv-"), 0);
  EXPECT_EQ(plat::temp_name_owner(first.temp_path), static_cast<uint64_t>(getpid()));
  // A name already taken is passed over, not truncated.
  const std::string taken = test::u8(first.temp_path.substr(0, first.temp_path.rfind(u'-') + 1)) +
                            std::to_string(std::stoul(test::u8(
                                first.temp_path.substr(first.temp_path.rfind(u'-') + 1))) + 1);
  tmp.write(fs::path(taken).filename().string(), "someone else's");
  plat::PendingOutput second;
  ASSERT_EQ(plat::begin_named_output(target, second), plat::begin_result::ok);
  EXPECT_NE(second.temp_path, first.temp_path);
  EXPECT_NE(test::u8(second.temp_path), taken);
  EXPECT_EQ(test::read_file(taken), "someone else's");
  first.abandon();
  second.abandon();
  fs::remove(taken);
  EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{"out.IP"});
  EXPECT_EQ(test::read_file(tmp.path() / "out.IP"), "earlier");
}

TEST_F(PlatformPosixTest, EndingSignalRemovesTheNamedTemporariesAndEndsAsItWould) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      plat::install_interrupt_handler([](int) {});
      plat::install_ending_handlers();
      // Several pending at once, one of them begun where another was
      // abandoned.
      plat::PendingOutput outputs[4];
      for (int i = 0; i < 4; ++i) {
        if (plat::begin_named_output(in_tmp("out" + std::to_string(i) + ".IP"), outputs[i]) !=
                plat::begin_result::ok ||
            !outputs[i].file.write_all("partial", 7))
          _exit(1);
        if (i == 1) outputs[0].abandon();
      }
      const std::string name = test::u8(outputs[3].temp_path);
      if (write(ready[1], name.data(), name.size()) < 0) _exit(1);
      close(ready[1]);
      if (sig == SIGINT) raise(SIGINT);  // the first one is swallowed
      raise(sig);
      _exit(2);
    }
    close(ready[1]);
    char name[4096];
    const ssize_t got = read(ready[0], name, sizeof name);
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_GT(got, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(fs::path(std::string(name, static_cast<size_t>(got))).parent_path(), tmp.path());
    EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{});
  }
}

TEST(StartThread, LeavesTheEndingSignalsToTheThreadsThereBefore) {
  // The new thread holds them back, so that the main thread holding them
  // back (while a temporary gets its name) holds them back for the
  // process; the caller's own mask stays as it was.
  sigset_t before, inside, after;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  plat::start_thread([&inside] { pthread_sigmask(SIG_SETMASK, nullptr, &inside); }).join();
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    EXPECT_EQ(sigismember(&inside, sig), 1) << sig;
    EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
  }
}

TEST_F(PlatformPosixTest, ReplacedOutputKeepsItsModeAndAReadOnlyOneStays) {
  for (const auto& [form, begin] : kOutputForms) {
    SCOPED_TRACE(form);
    for (const fs::perms mode : {fs::perms(0600), fs::perms(0640)}) {
      tmp.write("out.IP", "earlier");
      fs::permissions(tmp.path() / "out.IP", mode);
      plat::PendingOutput output;
      ASSERT_EQ(begin(in_tmp("out.IP"), output), plat::begin_result::ok);
      ASSERT_TRUE(plat::commit_output(output));
      EXPECT_EQ(fs::status(tmp.path() / "out.IP").permissions(), mode);
    }
    fs::permissions(tmp.path() / "out.IP", fs::perms(0444));
    plat::PendingOutput output;
    EXPECT_EQ(begin(in_tmp("out.IP"), output), plat::begin_result::read_only);
    fs::remove(tmp.path() / "out.IP");
  }
}

TEST(TempNames, OnlyOurTemporaryNamesHaveAnOwner) {
  EXPECT_EQ(plat::temp_name_owner(u"a.IP.~ipconv-123-0"), 123u);
  EXPECT_EQ(plat::temp_name_owner(u".~ipconv-7-42"), 7u);
  for (const char16_t* other : {u"a.IP", u"a.~ipconv-12", u"a.~ipconv-12-", u"a.~ipconv--1",
                                u"a.~ipconv-x-1", u"a.~ipconv-1-2.IP", u"a.~IPCONV-1-2"})
    EXPECT_FALSE(plat::temp_name_owner(other)) << test::u8(other);
  EXPECT_TRUE(plat::process_running(static_cast<uint64_t>(getpid())));
}

TEST_F(PlatformPosixTest, OpenReadRefusesWhatIsNotARegularFile) {
  ASSERT_EQ(mkfifo((tmp.path() / "fifo").c_str(), 0666), 0);
  fs::create_directory(tmp.path() / "dir");
  plat::File file;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(plat::open_read(in_tmp("fifo"), file));  // no writer: would block
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(plat::last_error_text(), std::string(std::strerror(ENOTSUP)));
  EXPECT_FALSE(plat::open_read(in_tmp("dir"), file));
  EXPECT_EQ(plat::last_error_text(), std::string(std::strerror(EISDIR)));
  EXPECT_FALSE(plat::open_read(in_tmp("missing"), file));
  EXPECT_EQ(plat::last_error_text(), std::string(std::strerror(ENOENT)));
}

TEST_F(PlatformPosixTest, ReadWriteSizeAndLength) {
  plat::File file;
  ASSERT_FALSE(plat::open_read_write(in_tmp("acct"), false, file));
  ASSERT_TRUE(plat::open_read_write(in_tmp("acct"), true, file));
  ASSERT_TRUE(file.write_all("0123456789", 10));
  EXPECT_EQ(plat::file_size(file), 10u);
  ASSERT_TRUE(plat::set_file_length(file, 3));
  EXPECT_EQ(plat::file_size(file), 3u);
  ASSERT_TRUE(file.close());
  EXPECT_EQ(test::read_file(tmp.path() / "acct"), "012");

  plat::File reader;
  ASSERT_TRUE(plat::open_read(in_tmp("acct"), reader));
  plat::File moved(std::move(reader));
  EXPECT_FALSE(reader.is_open());
  char buffer[8];
  EXPECT_EQ(moved.read(buffer, sizeof buffer), 3);
  EXPECT_EQ(moved.read(buffer, sizeof buffer), 0);

  // The end is known from a short read once the size at the open is read,
  // what the file grew by since included.
  tmp.write("grows", "0123456789");
  ASSERT_TRUE(plat::open_read(in_tmp("grows"), reader));
  std::ofstream(tmp.path() / "grows", std::ios::app) << "abc";
  EXPECT_EQ(reader.read(buffer, 4), 4);
  EXPECT_EQ(reader.read(buffer, 4), 4);
  EXPECT_FALSE(reader.at_end());
  EXPECT_EQ(reader.read(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "89abc");
  EXPECT_TRUE(reader.at_end());
}

// ---- Time -------------------------------------------------------------------

uint64_t stamp_of_unix(int64_t seconds, int ms = 0) {
  return static_cast<uint64_t>(seconds + static_cast<int64_t>(kEpochDelta)) * kUnitsPerSecond +
         static_cast<uint64_t>(ms) * 10000;
}

TEST_F(PlatformPosixTest, SystemTimeOfStamps) {
  auto zero = plat::stamp_to_system_time(0);
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->year, 1601);
  EXPECT_EQ(zero->month, 1);
  EXPECT_EQ(zero->day, 1);
  EXPECT_EQ(zero->hour, 0);
  EXPECT_EQ(zero->weekday, 1);  // a Monday

  // 2000-02-29 12:34:56.789 UTC, a Tuesday.
  auto leap = plat::stamp_to_system_time(stamp_of_unix(951827696, 789));
  ASSERT_TRUE(leap);
  EXPECT_EQ(leap->year, 2000);
  EXPECT_EQ(leap->month, 2);
  EXPECT_EQ(leap->day, 29);
  EXPECT_EQ(leap->hour, 12);
  EXPECT_EQ(leap->minute, 34);
  EXPECT_EQ(leap->second, 56);
  EXPECT_EQ(leap->millisecond, 789);
  EXPECT_EQ(leap->weekday, 2);

  // Every few days from 1601 to 2400 against the C library's calendar.
  for (int64_t s = -11644473600LL; s < 13569465600LL; s += 86400LL * 37 + 3601) {
    time_t when = static_cast<time_t>(s);
    tm expect{};
    ASSERT_NE(gmtime_r(&when, &expect), nullptr);
    auto got = plat::stamp_to_system_time(stamp_of_unix(s));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->year, expect.tm_year + 1900) << s;
    ASSERT_EQ(got->month, expect.tm_mon + 1) << s;
    ASSERT_EQ(got->day, expect.tm_mday) << s;
    ASSERT_EQ(got->hour, expect.tm_hour) << s;
    ASSERT_EQ(got->minute, expect.tm_min) << s;
    ASSERT_EQ(got->weekday, expect.tm_wday) << s;
  }
  EXPECT_FALSE(plat::stamp_to_system_time(0x8000000000000000ULL));
}

class ZoneTest : public PlatformPosixTest {
 protected:
  void SetUp() override {
    PlatformPosixTest::SetUp();
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  void TearDown() override {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(ZoneTest, ZoneNamesOffsetAndDaylight) {
  setenv("TZ", "EST5EDT", 1);
  auto eastern = plat::refresh_zone();
  EXPECT_EQ(eastern.standard_name, "EST");
  EXPECT_EQ(eastern.daylight_name, "EDT");
  EXPECT_EQ(eastern.offset_seconds, 5 * 3600);
  EXPECT_TRUE(eastern.daylight);

  setenv("TZ", "CET-1", 1);
  auto central = plat::refresh_zone();
  EXPECT_EQ(central.standard_name, "CET");
  EXPECT_EQ(central.daylight_name, "");
  EXPECT_EQ(central.offset_seconds, -3600);
  EXPECT_FALSE(central.daylight);
}

TEST_F(ZoneTest, LocalStampUsesTheOffsetInForceNow) {
  setenv("TZ", "IST-5:30", 1);
  plat::refresh_zone();
  // A winter stamp gets the same bias as any other: the one of the run.
  const uint64_t stamp = stamp_of_unix(946684800);  // 2000-01-01 00:00 UTC
  EXPECT_EQ(plat::stamp_to_local(stamp), stamp + 19800 * kUnitsPerSecond);
  setenv("TZ", "EST5", 1);
  plat::refresh_zone();
  EXPECT_EQ(plat::stamp_to_local(stamp), stamp - 18000 * kUnitsPerSecond);
  EXPECT_EQ(plat::stamp_to_local(0), std::nullopt);  // before 1601 locally

  auto midnight = plat::local_midnight(2000, 1, 1);
  ASSERT_TRUE(midnight);
  EXPECT_EQ(*midnight, 946684800 + 18000);
  auto parts = plat::broken_down(946684800, false);
  EXPECT_EQ(parts.year, 1999);
  EXPECT_EQ(parts.month, 12);
  EXPECT_EQ(parts.day, 31);
  EXPECT_EQ(parts.hour, 19);
  EXPECT_EQ(plat::broken_down(946684800, true).hour, 0);
}

// ---- Named streams ---------------------------------------------------------

TEST_F(PlatformPosixTest, BackupSequenceShowsUserAttributesAsStreams) {
  const auto path = tmp.write("carrier", "main data");
  if (setxattr(path.c_str(), "user.Zone.Identifier", "12345", 5, 0) != 0 ||
      setxattr(path.c_str(), "user.empty", "", 0, 0) != 0) {
    GTEST_SKIP() << "the temporary directory's file system keeps no user attributes";
  }
  setxattr(path.c_str(), "trusted.other", "x", 1, 0);  // not a stream; may fail

  plat::BackupReader reader;
  ASSERT_TRUE(reader.open(test::u16(path.string())));
  plat::StreamHeader header;
  ASSERT_EQ(reader.read_header(header), 1);
  EXPECT_EQ(header.name_size, 0u);
  EXPECT_EQ(header.size, 9u);
  reader.skip_data();

  std::vector<std::pair<std::u16string, uint64_t>> streams;
  while (reader.read_header(header) == 1) {
    std::u16string name(header.name_size / 2, u'\0');
    ASSERT_EQ(reader.read_name(name.data(), header.name_size),
              static_cast<long long>(header.name_size));
    streams.emplace_back(name, header.size);
    reader.skip_data();
  }
  std::sort(streams.begin(), streams.end());
  using S = std::vector<std::pair<std::u16string, uint64_t>>;
  EXPECT_EQ(streams, (S{{u":Zone.Identifier:$DATA", 5}, {u":empty:$DATA", 0}}));
  EXPECT_EQ(reader.read_header(header), 0);
  EXPECT_FALSE(reader.open(in_tmp("missing")));
}

// ---- A real NTFS volume (ntfs-3g) ------------------------------------------

// Mounts a fresh 16 MiB NTFS image with ntfs-3g; skipped where that is not
// possible (tools missing, no /dev/fuse, not root).
class NtfsVolumeTest : public PlatformPosixTest {
 protected:
  void SetUp() override {
    PlatformPosixTest::SetUp();
    image_ = tmp.path() / "volume.img";
    mount_ = tmp.path() / "mnt";
    fs::create_directory(mount_);
    fs::resize_file(tmp.write("volume.img", ""), 16 << 20);
    const std::string make =
        "mkntfs -F -q -f '" + image_.string() + "' >/dev/null 2>&1 && ntfs-3g '" +
        image_.string() + "' '" + mount_.string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
      GTEST_SKIP() << "no NTFS volume: mkntfs/ntfs-3g missing or FUSE not usable";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) std::system(("umount '" + mount_.string() + "'").c_str());
  }
  std::u16string on_volume(const std::string& relative) const {
    return test::u16((mount_ / relative).string());
  }

  fs::path image_, mount_;
  bool mounted_ = false;
};

TEST_F(NtfsVolumeTest, VolumeRootStreamsAndCreationTime) {
  EXPECT_EQ(plat::volume_fs_name(test::u16(mount_.string())), "NTFS");

  fs::create_directory(mount_ / "sub");
  const auto file = mount_ / "sub" / "f.txt";
  { std::ofstream(file) << "abc"; }
  ASSERT_EQ(setxattr(file.c_str(), "user.s", "12345", 5, 0), 0);

  // The mount point is the volume root: no "." and "..".
  auto root_names = [&](const std::u16string& search) {
    Names out;
    plat::DirSearch s;
    plat::FindData data;
    if (s.start(search, data)) {
      do out.push_back(test::u8(data.name));
      while (s.next(data));
    }
    return out;
  };
  EXPECT_EQ(root_names(on_volume("*.*")).front(), "sub") << "mount point listed dots";
  EXPECT_EQ(root_names(on_volume("sub/*.*")), (Names{".", "..", "f.txt"}));

  plat::DirSearch s;
  plat::FindData data;
  ASSERT_TRUE(s.start(on_volume("sub/f.txt"), data));
  const int64_t now = (std::time(nullptr) + static_cast<int64_t>(kEpochDelta)) *
                      static_cast<int64_t>(kUnitsPerSecond);
  EXPECT_LT(std::abs(now - static_cast<int64_t>(data.creation)),
            static_cast<int64_t>(3600 * kUnitsPerSecond));
  auto stamps = plat::object_stamps(on_volume("sub/f.txt:s"));
  ASSERT_TRUE(stamps);
  EXPECT_EQ(stamps->creation, data.creation);

  plat::BackupReader reader;
  ASSERT_TRUE(reader.open(on_volume("sub/f.txt")));
  plat::StreamHeader header;
  ASSERT_EQ(reader.read_header(header), 1);
  EXPECT_EQ(header.name_size, 0u);
  ASSERT_EQ(reader.read_header(header), 1);
  std::u16string name(header.name_size / 2, u'\0');
  ASSERT_EQ(reader.read_name(name.data(), header.name_size), header.name_size);
  EXPECT_EQ(name, u":s:$DATA");
  EXPECT_EQ(header.size, 5u);
  EXPECT_EQ(reader.read_header(header), 0);
}

}  // namespace
