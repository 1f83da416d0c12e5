// The INI file as a user meets it: which file is read, which lines of it,
// and how the command line wins over it.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const char kLine[] = "3139666412\n";

class IniEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.write("data/a.csv", kLine);
    dir_.write("data/b.txt", kLine);
    dir_.write("data/sub/c.csv", kLine);
  }

  test::RunResult run(const std::vector<std::string>& args, const fs::path& cwd) {
    test::RunOptions options;
    options.cwd = cwd;
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    return test::run_program(args, options);
  }
  test::RunResult run(const std::vector<std::string>& args) { return run(args, dir_.path()); }

  bool converted(const std::string& relative_base) const {
    return fs::exists(dir_.path() / (relative_base + ".IP"));
  }

  // The program's base name as its section header spells it.
  static std::string section_name() {
    std::string name = fs::path(test::program_under_test()).stem().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  }
  static std::string ini_name() {
    return fs::path(test::program_under_test()).stem().string() + ".ini";
  }

  test::TempDir dir_;
};

TEST_F(IniEndToEnd, IniInTheCurrentDirectoryPresetsTheRun) {
  dir_.write(ini_name(), "RECURSE=OFF\nFILE=*.csv\nVERBOSE\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/a"));
  EXPECT_FALSE(converted("data/b"));      // FILE=*.csv
  EXPECT_FALSE(converted("data/sub/c"));  // RECURSE=OFF
}

TEST_F(IniEndToEnd, WindowsLineEndsReadTheSame) {
  dir_.write(ini_name(), "RECURSE=OFF\r\nFILE=*.csv\r\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/a"));
  EXPECT_FALSE(converted("data/b"));
  EXPECT_FALSE(converted("data/sub/c"));
}

TEST_F(IniEndToEnd, DashIniReadsNoIniFile) {
  dir_.write(ini_name(), "RECURSE=OFF\nFILE=*.csv\n");
  const test::RunResult r = run({"data", "-.ini"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/a"));
  EXPECT_TRUE(converted("data/b"));
  EXPECT_TRUE(converted("data/sub/c"));
}

TEST_F(IniEndToEnd, CommandLineOverridesTheIniFile) {
  dir_.write(ini_name(), "RECURSE=OFF\n");
  test::RunResult r = run({"data", "+r"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/sub/c"));

  fs::remove(dir_.path() / "data/sub/c.IP");
  r = run({"data", "--REC=ON"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/sub/c"));
}

TEST_F(IniEndToEnd, LongOptionsWhereTheyStand) {
  dir_.write("data/skip.bak", kLine);
  const test::RunResult r = run({"data", "--REC=off", "--EXC=*.bak", "--OUT=run.txt", "--VER=OFF"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/a"));
  EXPECT_FALSE(converted("data/skip"));
  EXPECT_FALSE(converted("data/sub/c"));
  EXPECT_TRUE(fs::exists(dir_.path() / "run.txt"));
}

TEST_F(IniEndToEnd, IllegalLongOptionValueEndsWithStatusFive) {
  const test::RunResult r = run({"data", "--REC=NO"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find("\nIllegal option: REC=NO"), std::string::npos) << r.out;
  EXPECT_FALSE(converted("data/a"));
}

TEST_F(IniEndToEnd, SharedFileAppliesOnlyTheProgramsSection) {
  dir_.write("VELDORAN.INI", "RECURSE=OFF\n[OTHER]\nRECURSE=OFF\n[" + section_name() +
                                 "] tuned\nFILE=*.csv\n[NEXT]\nRECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/a"));
  EXPECT_FALSE(converted("data/b"));     // the section's FILE=*.csv
  EXPECT_TRUE(converted("data/sub/c"));  // no RECURSE=OFF from elsewhere
}

TEST_F(IniEndToEnd, ProgramNamedFileShadowsTheSharedFile) {
  dir_.write(ini_name(), "FILE=*.csv\n");
  dir_.write("VELDORAN.INI", "[" + section_name() + "]\nRECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(converted("data/b"));
  EXPECT_TRUE(converted("data/sub/c"));
}

TEST_F(IniEndToEnd, ProgramIniIsTheLastResort) {
  dir_.write("PROGRAM.ini", "RECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/b"));
  EXPECT_FALSE(converted("data/sub/c"));
}

TEST_F(IniEndToEnd, UnreadableIniIsReportedAndTheRunGoesOnWithoutOne) {
  fs::create_directory(dir_.path() / ini_name());  // exists, cannot be read
  dir_.write("PROGRAM.ini", "RECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\nCouldn't open .ini file\n"), std::string::npos) << r.out;
  EXPECT_TRUE(converted("data/sub/c"));  // PROGRAM.ini was not read instead
}

TEST_F(IniEndToEnd, MemoWithoutAFileAndNoChoiceOpensNothing) {
  dir_.write(ini_name(), "MEMO\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("Input up to 2000 characters"), std::string::npos) << r.out;
  EXPECT_TRUE(converted("data/a"));
}

// A copy of the program in a directory of its own, so that files can be
// put beside it (ipconv.exe is linked statically: it needs no DLL there).
class IniBesideProgram : public IniEndToEnd {
 protected:
  void SetUp() override {
    IniEndToEnd::SetUp();
    const fs::path original = test::program_under_test();
    bin_ = dir_.path() / "bin";
    fs::create_directories(bin_);
    copy_ = bin_ / original.filename();
    fs::copy_file(original, copy_);
    fs::permissions(copy_, fs::perms::owner_all, fs::perm_options::add);
    saved_ = plat::get_env("IPCONV_PROGRAM");
    plat::set_env("IPCONV_PROGRAM", test::u16(copy_.string()));
  }
  void TearDown() override {
    if (!copy_.empty()) plat::set_env("IPCONV_PROGRAM", saved_ ? *saved_ : u"");
  }

  fs::path bin_;
  fs::path copy_;
  std::optional<std::u16string> saved_;
};

TEST_F(IniBesideProgram, CurrentDirectoryComesBeforeTheProgramsDirectory) {
  dir_.write("bin/" + ini_name(), "RECURSE=OFF\n");
  dir_.write(ini_name(), "FILE=*.csv\n");
  test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(converted("data/b"));
  EXPECT_TRUE(converted("data/sub/c"));

  fs::remove(dir_.path() / ini_name());
  fs::remove(dir_.path() / "data/sub/c.IP");
  r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(converted("data/b"));
  EXPECT_FALSE(converted("data/sub/c"));
}

TEST_F(IniBesideProgram, ProgramNamedFileBesideTheProgramShadowsTheSharedFile) {
  dir_.write("bin/" + ini_name(), "FILE=*.csv\n");
  dir_.write("VELDORAN.INI", "[" + section_name() + "]\nRECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(converted("data/b"));
  EXPECT_TRUE(converted("data/sub/c"));
}

TEST_F(IniBesideProgram, SharedFileBesideTheProgram) {
  dir_.write("bin/VELDORAN.INI", "[" + section_name() + "]\nRECURSE=OFF\n");
  const test::RunResult r = run({"data"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(converted("data/sub/c"));
}

}  // namespace
