// The option list of --help, the one list of what can be typed: the manual
// page and the README show the same rows.
#include "ipconv/option_table.h"

#include <string>

namespace {

// Whole words tested before the long-option table (--help, --version)
// stand with the letters, after them.
constexpr letter_help kLetters[] = {
    {"-v", "verbose: run header and progress count"},
    {"-r, +r", "toggle recursion (on by default); force it on"},
    {"-S, +S", "toggle the NTFS named-stream listing; force it on"},
    {"-m, +m", "toggle the time column of stream lines; force it on"},
    {"-tX, -TX, +t", "time column X: w a c (W A C long), 3 all, 0 none; off"},
    {"-w N, -W N", "name-column width (also -wN, -w=N)"},
    {"-n[=N], +n", "name only, optional width; off"},
    {"-N[=N], +N", "path only, optional width; off"},
    {"-o FILE, -O FILE, +o", "output file of the run header (-O appends); none"},
    {"-a, +a", "append to the output file; recreate it"},
    {"-p DIR...", "add search directories (up to the next - or +)"},
    {"-f PATTERN...", "add file-name patterns"},
    {"-x PATTERN...", "exclude names that match (case ignored, 78 kept)"},
    {"-d C", "column delimiter: one character or a decimal code"},
    {"-V", "variable-length stream lines"},
    {"-1 FILE, +1", "accounting file (its directories are made); none"},
    {"-C TEXT", "comment column (COMPUTERNAME[n]: the computer)"},
    {"-I, -i", "counting pass first (when an output file is named)"},
    {"-M", "name width from the counting pass"},
    {"-U, -u, -Z, -z", "stream times in GMT"},
    {"-8", "8.3 column"},
    {"-88[n][e|E]", "long-name format, optional width"},
    {"-D RANGE", "recorded only (size range)"},
    {"-G SIZE", "recorded only (size greater than)"},
    {"-L SIZE", "recorded only (size less than)"},
    {"-g DAYS", "recorded only (older than DAYS or a date)"},
    {"-l DAYS", "recorded only (newer than DAYS or a date)"},
    {"-A[dDhmrse]", "recorded only (attribute filter)"},
    {"-q-X..., -q+X...", "recorded only (attribute bits)"},
    {"-H, -h", "recorded only"},
    {"-P", "recorded only (pause)"},
    {"-R", "recorded only (reset access times)"},
    {"-X", "recorded only"},
    {"--NAME[=VALUE]", "long option, applied where it stands (below)"},
    {"-.ini", "do not read the INI file"},
    {"-?, /?", "usage and help texts, status 5"},
    {"--help, --usage", "this list on standard output, status 0"},
    {"--version", "the program's name and version, status 0"},
    {"--JOBS=N", "threads that convert, 1 to 64 (processors, at most 8)"},
};

// In the parser's order: the first row whose name matches wins.
constexpr long_help kLongRows[] = {
    {"ACC", "3", "FILE", "accounting file, as -1"},
    {"LOG", "3", "FILE", "accounting file, as -1"},
    {"APP", "3", "-", "append to the output file, as -a"},
    {"COM", "3", "TEXT", "comment text, case kept, as -C"},
    {"CRC", "3", "-", "recorded only (clears SHA and HASH)"},
    {"CREATE", "6", "-", "recorded only"},
    {"DEL", "3", "C", "delimiter: a character, pipe, or a code"},
    {"EXC", "3", "PATTERN", "exclude pattern, as -x"},
    {"EXT", "3", "-", "long-name format with extension"},
    {"FILE", "4", "PATTERN", "file-name pattern, as -f"},
    {"LINE", "4", "[N]", "recorded only (line length, 80)"},
    {"GRE", "3", "SIZE", "recorded only (size greater than)"},
    {"IM", "2", "-", "counting pass, as -I"},
    {"LES", "3", "SIZE", "recorded only (size less than)"},
    {"MEMO", "4", "[FILE]", "memo typed on standard input"},
    {"NAMEAFTER", "9", "[N]", "recorded only"},
    {"NEW", "3", "DAYS", "recorded only (newer than)"},
    {"OLD", "3", "DAYS", "recorded only (older than)"},
    {"OUT", "3", "FILE", "output file, as -o; append off"},
    {"PATH", "4", "DIR", "search directory, as -p"},
    {"PAU", "3", "-", "recorded only"},
    {"REC", "3", "[ON|OFF]", "recursion"},
    {"RES", "3", "[ON|OFF]", "recorded only"},
    {"REVERSE", "whole", "-", "recorded only"},
    {"SHA1", "whole", "-", "recorded only"},
    {"SHA", "whole", "-", "recorded only"},
    {"SHA2", "4", "-", "recorded only"},
    {"SHA3", "4", "-", "recorded only"},
    {"SHA5", "4", "-", "recorded only"},
    {"SHOW", "4", "[N]", "recursion on, variable-length lines"},
    {"STR", "3", "[ON|OFF]", "stream listing"},
    {"UTF", "3", "-", "recorded only"},
    {"VAR", "3", "-", "variable-length lines, as -V"},
    {"WID", "3", "N", "name-column width"},
    {"VER", "3", "[ON|OFF]", "verbose, as -v; OFF: quiet"},
};

constexpr const char* kExitStatuses[] = {
    "  0  the run completed, also when no file matched; --help, --version\n",
    "  1  the accounting file can be neither opened nor created (nothing is\n"
    "     converted); a named-stream read error not answered with Y\n",
    "  2  an input could not be read or is UTF-16 text; a named file or\n"
    "     directory does not exist; a directory cannot be searched\n",
    "  3  an output, standard output, the accounting or -o file could not be\n"
    "     written; the -o file could not be created\n",
    "  5  no argument, an illegal option, a value missing, an extra item\n"
    "     without a file argument, -? or /?\n",
    "  6  memory ran out\n",
};

// Effects start in this column; a longer option stands on a line of its own.
constexpr size_t kEffectColumn = 24;

void write_letter_row(FILE* stream, const letter_help& row) {
  std::string line = "  ";
  line += row.written;
  if (line.size() + 1 > kEffectColumn) {
    line += '\n';
    line.append(kEffectColumn, ' ');
  } else {
    line.append(kEffectColumn - line.size(), ' ');
  }
  line += row.effect;
  line += '\n';
  std::fputs(line.c_str(), stream);
}

void write_long_row(FILE* stream, const long_help& row) {
  const std::string name = "--" + std::string(row.name);
  std::fprintf(stream, "  %-13.*s %-6.*s %-9.*s %.*s\n", static_cast<int>(name.size()),
               name.data(), static_cast<int>(row.letters.size()), row.letters.data(),
               static_cast<int>(row.value.size()), row.value.data(),
               static_cast<int>(row.effect.size()), row.effect.data());
}

}  // namespace

std::span<const letter_help> letter_help_rows() { return kLetters; }
std::span<const long_help> long_help_rows() { return kLongRows; }

void write_option_list(FILE* stream) {
  std::fputs(
      "\nUsage: ipconv [FILE|DIR|PATTERN|-]... [OPTION]...\n"
      "Converts every matching file below each directory named (the current\n"
      "one without a file argument) into a .IP file beside it; - converts\n"
      "standard input to standard output.\n"
      "\nOptions follow the file arguments; letters are case-sensitive, and +\n"
      "forces a toggle on or turns a setting off. A value is attached (-w60)\n"
      "or the next argument (-w 60).\n",
      stream);
  for (const letter_help& row : kLetters) write_letter_row(stream, row);
  std::fputs(
      "\nLong options: --NAME or --NAME=VALUE, in any case (+-NAME too). The\n"
      "names are tried in this order; a name matches when the text begins with\n"
      "its first N letters (whole: nothing may follow). A VALUE in [ ] may be\n"
      "left out; - takes none.\n",
      stream);
  std::fprintf(stream, "  %-13s %-6s %-9s %s\n", "NAME", "N", "VALUE", "EFFECT");
  for (const long_help& row : kLongRows) write_long_row(stream, row);
  std::fputs("\nExit status:\n", stream);
  for (const char* status : kExitStatuses) std::fputs(status, stream);
  std::fputs(
      "\nThe manual: man ipconv (on Windows, README.txt beside ipconv.exe).\n",
      stream);
}
