// Finding and reading the INI file: the files tried, the program's section
// of the shared file and the line pieces; each directive goes to
// apply_ini_directive.
#include <cstdio>
#include <string_view>

#include "framework/acct.h"
#include "framework/ini.h"
#include "framework/paths.h"
#include "framework/text.h"
#include "platform/platform.h"

bool read_ini_piece(FILE* file, std::string& piece) {
  piece.clear();
  const bool ctrl_z_ends = plat::text_input_ends_at_ctrl_z();
  while (piece.size() < kIniPieceChars) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (ctrl_z_ends && c == 0x1A) {
      std::ungetc(c, file);  // the end stays the end for the next read
      break;
    }
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (piece.empty()) return false;
  // The runtime's string functions see a NUL as the end of the line.
  const size_t nul = piece.find('\0');
  if (nul != std::string::npos) piece.resize(nul);
  return true;
}

void read_ini_stream(FILE* file, bool own_section, const std::string& header,
                     option_rec& options) {
  std::string piece;
  if (own_section) {
    bool found = false;
    while (!found && read_ini_piece(file, piece))
      found = upper_ascii(std::string_view(piece)).starts_with(header);
    if (!found) return;
  }
  while (read_ini_piece(file, piece)) {
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    const std::string upper = upper_ascii(std::string_view(piece));
    if (upper.empty()) continue;
    if (upper[0] == ';' || upper[0] == '#') continue;
    if (upper[0] == '[') {
      if (own_section) return;  // the next program's section
      continue;
    }
    if (own_section && upper.find(header) != std::string::npos) return;
    apply_ini_directive(piece, options);
  }
}

namespace {

struct ProgramName {
  std::u16string dir;   // drive and directory, with the closing separator
  std::u16string base;  // without directory and extension
};

ProgramName split_program_path(const std::u16string& program) {
  split_path split = split_at_last_separator(program);
  ProgramName parts;
  parts.dir = std::move(split.dir);
  parts.base = split.name.substr(0, split.name.rfind(u'.'));
  return parts;
}

}  // namespace

std::vector<ini_candidate> ini_candidates(const std::u16string& program) {
  const ProgramName parts = split_program_path(program);
  const std::u16string own = parts.base + u".ini";
  const std::u16string shared = u"VELDORAN.INI";
  const std::u16string fallback = u"PROGRAM.ini";
  return {
      {own, false},    {parts.dir + own, false},
      {shared, true},  {parts.dir + shared, true},
      {fallback, false}, {parts.dir + fallback, false},
  };
}

std::string ini_section_header(const std::u16string& program) {
  const std::string base = plat::to_native(split_program_path(program).base);
  std::string header = "[";
  header += upper_ascii(std::string_view(base));
  header += ']';
  return header;
}

void read_ini_file(const std::vector<std::u16string>& args, option_rec& options) {
  for (const std::u16string& arg : args)
    if (arg == u"-.ini") return;

  const std::u16string program = plat::program_path();
  for (const ini_candidate& candidate : ini_candidates(program)) {
    if (!plat::exists(candidate.path)) continue;
    // A directory of that name exists but cannot be read as a file.
    const bool directory = plat::is_directory(candidate.path);
    FILE* file = directory ? nullptr : plat::open_stream(candidate.path, "r");
    if (!file) {
      // A directory is not opened as a stream: its open as a file tells why.
      plat::File probe;
      if (directory) plat::open_read(candidate.path, probe);
      // Nothing can be read; after the user has seen it, start-up goes on
      // with the settings it has.
      std::printf("\nCouldn't open .ini file\n");
      write_failure_reason(stdout);
      std::fflush(stdout);
      std::getchar();
      return;
    }
    read_ini_stream(file, candidate.own_section,
                    ini_section_header(program), options);
    std::fclose(file);
    return;
  }
}
