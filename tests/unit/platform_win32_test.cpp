// The Win32 platform layer against a real (or Wine's) file system: the
// long-path form, drive roots, case-insensitive names, the enumeration the
// walk expects, text mode, safe replacement of outputs and the zone texts.
//
// This is the Win32 layer's own test, so it may ask the system directly.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Wine lacks BackupRead; its ntdll tells it apart from Windows.
bool under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class PlatformWin32Test : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }

  std::u16string in_tmp(const std::string& relative) const {
    return plat::long_path_prefix() + plat::full_path(tmp.u16(), 32767).value() + u"\\" +
           test::u16(relative);
  }

  std::vector<std::string> names(const std::string& search, bool directories_only = false) {
    std::vector<std::string> out;
    plat::DirSearch s;
    if (directories_only) s.directories_only();
    plat::FindData data;
    if (!s.start(in_tmp(search), data)) return out;
    do out.push_back(test::u8(data.name));
    while (s.next(data));
    return out;
  }

  test::TempDir tmp;
};

using Names = std::vector<std::string>;

// ---- Paths ------------------------------------------------------------------

TEST_F(PlatformWin32Test, SeparatorsPrefixAndOptionSlash) {
  EXPECT_EQ(plat::separator(), u'\\');
  EXPECT_TRUE(plat::is_separator(u'\\'));
  EXPECT_TRUE(plat::is_separator(u'/'));
  EXPECT_FALSE(plat::is_separator(u':'));
  EXPECT_EQ(plat::long_path_prefix(), u"\\\\?\\");
  EXPECT_TRUE(plat::slash_begins_option());
  EXPECT_FALSE(plat::names_keep_case());
  EXPECT_TRUE(plat::text_input_ends_at_ctrl_z());
  EXPECT_STREQ(plat::line_end(), "\r\n");
}

TEST_F(PlatformWin32Test, FullPathFoldsDotsAndTakesOffAnExistingPrefix) {
  EXPECT_EQ(plat::full_path(u"C:\\data\\.\\logs\\..\\x.csv", 100), u"C:\\data\\x.csv");
  EXPECT_EQ(plat::full_path(u"C:/data/logs/", 100), u"C:\\data\\logs\\");
  // A path in long-path form names the same place without its prefix, so
  // that a caller adding the prefix does not double it.
  EXPECT_EQ(plat::full_path(u"\\\\?\\C:\\data\\..\\x", 100), u"C:\\x");
  EXPECT_EQ(plat::full_path(u"\\\\?\\UNC\\server\\share\\a", 100), u"\\\\server\\share\\a");
  EXPECT_EQ(plat::full_path(u"C:\\data\\x.csv", 5), std::nullopt);
  EXPECT_EQ(plat::full_path(u"", 100), std::nullopt);

  test::ScopedCwd cwd(tmp.path());
  const std::u16string here = plat::current_dir().value();
  EXPECT_EQ(plat::full_path(u"sub\\f.txt", 32767), here + u"\\sub\\f.txt");
}

TEST_F(PlatformWin32Test, VolumeRootIsCutAtTheFirstColon) {
  EXPECT_EQ(plat::volume_root(u"\\\\?\\C:\\data\\logs"), u"\\\\?\\C:\\");
  EXPECT_EQ(plat::volume_root(u"\\\\?\\C:"), u"\\\\?\\C:\\");
  EXPECT_EQ(plat::volume_root(u"\\\\?\\UNC\\srv\\share"), u"\\\\?\\UNC\\srv\\share:\\");
  // The volume of a real directory can be asked for.
  const std::u16string root = plat::volume_root(in_tmp(""));
  EXPECT_TRUE(plat::volume_fs_name(root).has_value());
  EXPECT_EQ(plat::volume_fs_name(u"\\\\?\\UNC\\nowhere\\none:\\"), std::nullopt);
}

TEST_F(PlatformWin32Test, DirectoryNamesCompareWithoutCase) {
  EXPECT_TRUE(plat::same_dir_name(u"\\\\?\\C:\\Data\\Logs", u"\\\\?\\c:\\DATA\\logs"));
  EXPECT_TRUE(plat::same_dir_name(u"\\\\?\\C:\\Daten\\\u00c4rger", u"\\\\?\\C:\\daten\\\u00e4rger"));
  EXPECT_FALSE(plat::same_dir_name(u"\\\\?\\C:\\Data", u"\\\\?\\C:\\Data2"));
}

TEST_F(PlatformWin32Test, ObjectsAndTheirIdentity) {
  tmp.write("Dir/file.txt", "abc");
  EXPECT_TRUE(plat::is_directory(in_tmp("dir")));
  EXPECT_FALSE(plat::is_directory(in_tmp("dir\\file.txt")));
  EXPECT_TRUE(plat::exists(in_tmp("DIR\\FILE.TXT")));
  EXPECT_FALSE(plat::exists(in_tmp("absent")));
  // Two spellings of one name are one file and one directory.
  EXPECT_TRUE(plat::same_file(in_tmp("Dir\\file.txt"), in_tmp("DIR\\FILE.txt")));
  EXPECT_EQ(plat::file_identity(in_tmp("Dir")), plat::file_identity(in_tmp("dir")));
  tmp.write("Other/x", "");
  EXPECT_NE(plat::file_identity(in_tmp("Dir")), plat::file_identity(in_tmp("Other")));
  EXPECT_EQ(plat::file_identity(in_tmp("absent")), std::nullopt);

  EXPECT_TRUE(plat::make_directory(in_tmp("made")));
  EXPECT_TRUE(fs::is_directory(tmp.path() / "made"));
  EXPECT_FALSE(plat::make_directory(in_tmp("made")));
  EXPECT_FALSE(plat::last_error_text().empty());
  EXPECT_NE(plat::last_error_text().back(), '\n');
}

TEST_F(PlatformWin32Test, ProgramPathAndArguments) {
  const std::u16string self = plat::program_path();
  EXPECT_TRUE(self.ends_with(u"platform_win32_test.exe")) << test::u8(self);
  const auto args = plat::program_arguments(0, nullptr);
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find(u"platform_win32_test"), std::u16string::npos);
}

// ---- Enumeration ------------------------------------------------------------

TEST_F(PlatformWin32Test, ListsDotsFirstThenByUpperCasedNames) {
  for (const char* name : {"beta", "_under", "Alpha", "1st", "Zed", "gamma.txt"})
    tmp.write(name, "x");
  EXPECT_EQ(names("*.*"), (Names{".", "..", "1st", "Alpha", "beta", "gamma.txt", "Zed", "_under"}));
  EXPECT_EQ(names("*A*"), (Names{"Alpha", "beta", "gamma.txt"}));
  EXPECT_EQ(names("GAMMA.TXT"), (Names{"gamma.txt"}));
  EXPECT_EQ(names("none*"), Names{});
}

TEST_F(PlatformWin32Test, MissingDirectoryAndNoMatchAreNotUnreadable) {
  tmp.write("d/a.txt", "x");
  for (const char* search : {"d\\*.log", "missing\\*.*", "d\\a.txt\\*.*"}) {
    plat::DirSearch s;
    plat::FindData data;
    EXPECT_FALSE(s.start(in_tmp(search), data)) << search;
    EXPECT_FALSE(s.unreadable()) << search;
  }
}

TEST_F(PlatformWin32Test, DirectoriesOnlyListingKeepsItsFirstEntryThenOnlyDirectories) {
  for (const char* name : {"a.txt", "m.txt", "z.txt"}) tmp.write(name, "x");
  for (const char* name : {"b.txt", "Sub"}) fs::create_directory(tmp.path() / name);
  EXPECT_EQ(names("*.*", true), (Names{".", "..", "b.txt", "Sub"}));
  // Without "." and ".." to lead, the first entry is what the full listing
  // starts with, so that the search starts whenever it would.
  EXPECT_EQ(names("*.txt", true), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(names("m*", true), (Names{"m.txt"}));
}

TEST_F(PlatformWin32Test, EntriesCarryAttributesSizesAndStamps) {
  tmp.write("f.bin", std::string(1234, 'z'));
  fs::create_directory(tmp.path() / "sub");
  plat::DirSearch s;
  plat::FindData d;
  ASSERT_TRUE(s.start(in_tmp("f.bin"), d));
  EXPECT_EQ(d.size, 1234u);
  EXPECT_EQ(d.attributes & plat::kAttrDirectory, 0u);
  EXPECT_NE(d.last_write, 0u);
  ASSERT_TRUE(s.start(in_tmp("sub"), d));
  EXPECT_NE(d.attributes & plat::kAttrDirectory, 0u);
}

TEST_F(PlatformWin32Test, FilesCreatedDuringASearchAreNotListed) {
  tmp.write("a.txt", "1");
  tmp.write("c.txt", "3");
  plat::DirSearch s;
  plat::FindData d;
  ASSERT_TRUE(s.start(in_tmp("*.txt"), d));
  EXPECT_EQ(d.name, u"a.txt");
  tmp.write("b.txt", "2");
  ASSERT_TRUE(s.next(d));
  EXPECT_EQ(d.name, u"c.txt");
  EXPECT_FALSE(s.next(d));
}

// ---- Files ------------------------------------------------------------------

TEST_F(PlatformWin32Test, PendingOutputReplacesTheTargetInOneStep) {
  using Begin = plat::begin_result (*)(const std::u16string&, plat::PendingOutput&);
  const Begin nameless = [](const std::u16string& t, plat::PendingOutput& o) {
    return plat::begin_output(t, o);
  };
  for (const Begin begin : {nameless, Begin(plat::begin_named_output)}) {
    tmp.write("out.IP", "old\n");
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(in_tmp("out.IP").c_str()),
                       FILE_ATTRIBUTE_HIDDEN);
    plat::PendingOutput output;
    ASSERT_EQ(begin(in_tmp("out.IP"), output), plat::begin_result::ok);
    EXPECT_TRUE(output.temp_path.starts_with(in_tmp("out.IP")));
    ASSERT_TRUE(output.file.write_all("new\r\n", 5));
    ASSERT_TRUE(plat::commit_output(output)) << plat::last_error_text();
    EXPECT_EQ(test::read_file(tmp.path() / "out.IP"), "new\r\n");
    EXPECT_FALSE(plat::exists(output.temp_path));
    // The replaced file's attributes are kept.
    EXPECT_NE(GetFileAttributesW(reinterpret_cast<const wchar_t*>(in_tmp("out.IP").c_str())) &
                  FILE_ATTRIBUTE_HIDDEN,
              0u);

    // An abandoned output leaves nothing.
    {
      plat::PendingOutput abandoned;
      ASSERT_EQ(begin(in_tmp("other.IP"), abandoned), plat::begin_result::ok);
      ASSERT_TRUE(abandoned.file.write_all("part", 4));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);

    // A directory in the way is not replaced.
    fs::create_directory(tmp.path() / "dir.IP");
    ASSERT_EQ(begin(in_tmp("dir.IP"), output), plat::begin_result::ok);
    EXPECT_FALSE(plat::commit_output(output));
    EXPECT_TRUE(fs::is_directory(tmp.path() / "dir.IP"));
    fs::remove(tmp.path() / "dir.IP");

    // A read-only output stays as it is.
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(in_tmp("out.IP").c_str()),
                       FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(begin(in_tmp("out.IP"), output), plat::begin_result::read_only);
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(in_tmp("out.IP").c_str()),
                       FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
    fs::remove(tmp.path() / "out.IP");
  }
}

TEST_F(PlatformWin32Test, TargetNearTheNameLimitGetsAShortTemporaryName) {
  const std::string name = std::string(250, 'n') + ".IP";
  plat::PendingOutput output;
  ASSERT_EQ(plat::begin_output(in_tmp(name), output), plat::begin_result::ok)
      << plat::last_error_text();
  ASSERT_TRUE(output.file.write_all("x", 1));
  EXPECT_TRUE(output.temp_path.starts_with(in_tmp(".~ipconv-")));
  ASSERT_TRUE(plat::commit_output(output));
  EXPECT_EQ(test::read_file(tmp.path() / name), "x");
}

TEST_F(PlatformWin32Test, ReadingIsBinaryAndDirectoriesAreNotFiles) {
  tmp.write("in.txt", "1\r\n2\x1a" "3");
  plat::File file;
  ASSERT_TRUE(plat::open_read(in_tmp("in.txt"), file));
  char buffer[16];
  EXPECT_EQ(file.read(buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "1\r\n2\x1a" "3");
  EXPECT_EQ(file.read(buffer, sizeof buffer), 0);
  file.close();
  EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
  fs::create_directory(tmp.path() / "d");
  EXPECT_FALSE(plat::open_read(in_tmp("d"), file));
  EXPECT_FALSE(plat::open_read(in_tmp("absent"), file));
}

TEST_F(PlatformWin32Test, StreamsAreInTextMode) {
  FILE* out = plat::open_stream(in_tmp("t.txt"), "w");
  ASSERT_NE(out, nullptr);
  std::fputs("one\ntwo\n", out);
  std::fclose(out);
  EXPECT_EQ(test::read_file(tmp.path() / "t.txt"), "one\r\ntwo\r\n");

  tmp.write("z.txt", "a\r\nb\x1a" "after\n");
  FILE* in = plat::open_stream(in_tmp("z.txt"), "r");
  ASSERT_NE(in, nullptr);
  std::string text;
  for (int c; (c = std::fgetc(in)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(in);
  EXPECT_EQ(text, "a\nb");
  EXPECT_EQ(plat::open_stream(in_tmp("no\\such\\dir\\f"), "w"), nullptr);
}

TEST_F(PlatformWin32Test, LengthOfAFileOpenForRepair) {
  plat::File file;
  EXPECT_FALSE(plat::open_read_write(in_tmp("acct.txt"), false, file));
  ASSERT_TRUE(plat::open_read_write(in_tmp("acct.txt"), true, file));
  ASSERT_TRUE(file.write_all("0123456789", 10));
  EXPECT_EQ(plat::file_size(file), 10u);
  ASSERT_TRUE(plat::set_file_length(file, 3));
  EXPECT_EQ(plat::file_size(file), 3u);
  file.close();
  EXPECT_EQ(test::read_file(tmp.path() / "acct.txt"), "012");
  // An existing file is opened, not created anew.
  ASSERT_TRUE(plat::open_read_write(in_tmp("acct.txt"), true, file));
  EXPECT_EQ(plat::file_size(file), 3u);
}

// ---- Time, environment, system -------------------------------------------

TEST_F(PlatformWin32Test, ZoneTextsFollowTz) {
  {
    test::ScopedTz tz(u"EST5EDT");
    const plat::ZoneInfo z = plat::refresh_zone();
    EXPECT_EQ(z.standard_name, "EST");
    EXPECT_EQ(z.daylight_name, "EDT");
    EXPECT_EQ(z.offset_seconds, 18000);
    EXPECT_TRUE(z.daylight);
  }
  {
    test::ScopedTz tz(u"CET-1");
    const plat::ZoneInfo z = plat::refresh_zone();
    EXPECT_EQ(z.standard_name, "CET");
    EXPECT_EQ(z.offset_seconds, -3600);
    EXPECT_FALSE(z.daylight);
    EXPECT_EQ(z.daylight_name, "");
  }
}

TEST_F(PlatformWin32Test, EnvironmentIsTheRuntimes) {
  plat::set_env("IPCONV_W32_TEST", u"on\u00e9");
  EXPECT_EQ(plat::get_env("IPCONV_W32_TEST"), u"on\u00e9");
  ASSERT_NE(std::getenv("IPCONV_W32_TEST"), nullptr);
  EXPECT_EQ(std::string(std::getenv("IPCONV_W32_TEST")).substr(0, 2), "on");
  EXPECT_EQ(plat::get_env("IPCONV_W32_UNSET"), std::nullopt);
  const auto name = plat::computer_name();
  ASSERT_TRUE(name.has_value());
  EXPECT_FALSE(name->empty());
}

TEST_F(PlatformWin32Test, StampsToCalendarFields) {
  // 2026-12-07 19:05:30.250 UTC, a Monday.
  const uint64_t stamp = (11644473600ULL + 1796670330ULL) * 10000000ULL + 2500000ULL;
  const auto t = plat::stamp_to_system_time(stamp).value();
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 7);
  EXPECT_EQ(t.hour, 19);
  EXPECT_EQ(t.minute, 5);
  EXPECT_EQ(t.second, 30);
  EXPECT_EQ(t.millisecond, 250);
  EXPECT_EQ(t.weekday, 1);
  EXPECT_EQ(plat::stamp_to_system_time(0x8000000000000000ULL), std::nullopt);
  EXPECT_TRUE(plat::stamp_to_local(stamp).has_value());

  const auto utc = plat::broken_down(1796670330, true);
  EXPECT_EQ(utc.hour, 19);
  EXPECT_EQ(utc.weekday, 1);
  const auto midnight = plat::local_midnight(2026, 12, 7).value();
  const auto local = plat::broken_down(midnight, false);
  EXPECT_EQ(local.day, 7);
  EXPECT_EQ(local.hour, 0);
  EXPECT_EQ(local.minute, 0);
}

// ---- Named streams and privileges ----------------------------------------

TEST_F(PlatformWin32Test, BackupSequenceOfAFile) {
  EXPECT_EQ(plat::enable_backup_restore(), plat::PrivilegeStatus::ok);
  tmp.write("f.txt", "12345");
  plat::BackupReader reader;
  EXPECT_FALSE(reader.open(in_tmp("absent")));
  ASSERT_TRUE(reader.open(in_tmp("f.txt")));
  plat::StreamHeader header;
  if (under_wine()) {
    // Wine does not implement BackupRead: the read-error path of the caller.
    EXPECT_EQ(reader.read_header(header), -1);
    return;
  }
  // Unnamed streams (security data, then the main data) until the end.
  bool saw_data = false;
  int got;
  while ((got = reader.read_header(header)) == 1) {
    EXPECT_EQ(header.name_size, 0u);
    if (header.id == 1) {
      saw_data = true;
      EXPECT_EQ(header.size, 5u);
    }
    if (header.size > 0) reader.skip_data();
  }
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(saw_data);
}

TEST_F(PlatformWin32Test, ObjectStampsOfFilesDirectoriesAndStreamNames) {
  tmp.write("f.txt", "x");
  const auto file = plat::object_stamps(in_tmp("f.txt"));
  ASSERT_TRUE(file.has_value());
  EXPECT_NE(file->last_write, 0u);
  EXPECT_TRUE(plat::object_stamps(in_tmp("")).has_value());
  // A stream of the object has the object's times.
  const auto stream = plat::object_stamps(in_tmp("f.txt:absent"));
  ASSERT_TRUE(stream.has_value());
  EXPECT_EQ(stream->last_write, file->last_write);
  EXPECT_EQ(plat::object_stamps(in_tmp("missing.txt")), std::nullopt);
}

}  // namespace
