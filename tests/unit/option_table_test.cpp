// The option list of --help against the manual page: the same options in
// the same order, and the same long-option table, row for row.
#include "ipconv/option_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// Text as it renders: font changes dropped, escaped minus signs and
// backslashes as the characters they print.
std::string rendered(const std::string& troff) {
  std::string out;
  for (size_t i = 0; i < troff.size(); ++i) {
    if (troff[i] != '\\' || i + 1 == troff.size()) {
      out += troff[i];
      continue;
    }
    const char next = troff[++i];
    if (next == 'f' && i + 1 < troff.size()) {
      ++i;  // \fB, \fI, \fR, \fP
    } else if (next == '-') {
      out += '-';
    } else if (next == 'e') {
      out += '\\';
    } else if (next != '&') {
      out += '\\';
      out += next;
    }
  }
  return out;
}

// A font macro line such as `.BR \-r ", " +r` as it renders: the
// alternating macros (.BR, .BI, ...) join their arguments, .B and .I
// separate them by blanks.
std::string rendered_macro(const std::string& line) {
  const size_t blank = line.find(' ');
  const std::string macro = line.substr(1, blank - 1);
  std::vector<std::string> args;
  std::string arg;
  bool quoted = false, in_arg = false;
  for (size_t i = blank; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      in_arg = true;
    } else if (c == ' ' && !quoted) {
      if (in_arg) args.push_back(arg);
      arg.clear();
      in_arg = false;
    } else {
      arg += c;
      in_arg = true;
    }
  }
  if (in_arg) args.push_back(arg);
  std::string joined;
  for (const std::string& a : args) {
    if (macro.size() == 1 && !joined.empty()) joined += ' ';
    joined += a;
  }
  return rendered(joined);
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(rendered(line.substr(start, tab - start)));
  fields.push_back(rendered(line.substr(start)));
  return fields;
}

TEST(OptionTable, ManualPageListsTheOptionsOfHelp) {
  std::ifstream page(IPCONV_MAN_PAGE);
  ASSERT_TRUE(page) << IPCONV_MAN_PAGE;
  std::vector<std::string> tags;                    // .TP tags of OPTIONS
  std::vector<std::vector<std::string>> long_rows;  // the table of LONG OPTIONS
  std::string section, line;
  bool tag_next = false, in_table = false;
  while (std::getline(page, line)) {
    if (line.rfind(".SH ", 0) == 0) {
      section = line.substr(4);
    } else if (section == "OPTIONS" && line == ".TP") {
      tag_next = true;
    } else if (tag_next) {
      tags.push_back(rendered_macro(line));
      tag_next = false;
    } else if (section == "LONG OPTIONS" && line.rfind(".ta ", 0) == 0) {
      in_table = true;
    } else if (in_table && line == ".fi") {
      in_table = false;
    } else if (in_table && line.rfind("\\fB", 0) != 0) {  // past the bold heading
      long_rows.push_back(split_tabs(line));
    }
  }

  std::vector<std::string> help_tags;
  for (const letter_help& row : letter_help_rows()) help_tags.emplace_back(row.written);
  EXPECT_EQ(tags, help_tags);

  std::vector<std::vector<std::string>> help_rows;
  for (const long_help& row : long_help_rows())
    help_rows.push_back({std::string(row.name), std::string(row.letters), std::string(row.value),
                         std::string(row.effect)});
  EXPECT_EQ(long_rows, help_rows);
}

}  // namespace
