// The INI file: the program's own, or its section of VELDORAN.INI.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "framework/settings.h"

// Reads the first INI file found beside the program or in the current
// directory and applies its directives. Does nothing when any argument
// is exactly "-.ini".
void read_ini_file(const std::vector<std::u16string>& args, option_rec& options);

// ---- The steps of read_ini_file, open to tests ---------------------------

inline constexpr size_t kIniPieceChars = 259;  // longest line piece read

struct ini_candidate {
  std::u16string path;
  bool own_section;  // VELDORAN.INI: only this program's section is read
};

// The six files tried, in order, for a program at `program` (full path).
std::vector<ini_candidate> ini_candidates(const std::u16string& program);
// "[" + the program's base name in upper case + "]".
std::string ini_section_header(const std::u16string& program);

// Reads one line piece as the text-mode runtime does: at most 259
// characters, a line feed ends the piece and is kept, CR LF counts as a
// line feed. False at the end of the file.
bool read_ini_piece(FILE* file, std::string& piece);

// Applies the directives of an open INI file: every line, or in
// own-section mode only the lines of the section under `header`.
void read_ini_stream(FILE* file, bool own_section, const std::string& header,
                     option_rec& options);

// Applies one directive line as read (line feed removed, case as written).
void apply_ini_directive(const std::string& line, option_rec& options);
