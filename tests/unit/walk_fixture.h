// The walk over a real temporary tree, with the names each walk converted.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "framework/settings.h"
#include "framework/walk.h"
#include "ipconv/convert.h"
#include "platform/platform.h"
#include "support/test_support.h"

class WalkTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    g_file_hook = process_file;
    g_options.recurse = 1;
    g_options.width = 40;
    g_counting = 0;
  }

  std::u16string dir_string(const std::string& relative = "") const {
    std::string p = (tmp.path() / relative).lexically_normal().string();
    if (!plat::is_separator(static_cast<char16_t>(p.back())))
      p += static_cast<char>(std::filesystem::path::preferred_separator);
    return test::u16(p);
  }
  // The same directory as the search list holds it: behind the platform's
  // long-path prefix.
  std::u16string walked_dir(const std::string& relative = "") const {
    return plat::long_path_prefix() + dir_string(relative);
  }

  // The names (relative to the temporary directory, '/' between
  // directories) converted by one walk, in order, read from the "Input
  // file" report.
  std::vector<std::string> walk(const std::string& relative = "") {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    walk_dir(walked_dir(relative));
    const std::string out = testing::internal::GetCapturedStdout();
    stderr_text = testing::internal::GetCapturedStderr();
    std::vector<std::string> names;
    std::istringstream lines(out);
    const std::string base = test::u8(dir_string());
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("Input file  ", 0) != 0) continue;
      std::string name = line.substr(12 + base.size());
      std::replace(name.begin(), name.end(), '\\', '/');
      names.push_back(name);
    }
    return names;
  }

  test::TempDir tmp;
  std::string stderr_text;
};

using Names = std::vector<std::string>;
