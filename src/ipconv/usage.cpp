#include "framework/program_texts.h"

#include <cstdio>

#include "ipconv/option_table.h"
#include "platform/platform.h"

namespace {

void write_usage(FILE* stream) {
  std::fputs("\n", stream);
  std::fputs("This program contains various operations depending on the  \n", stream);
  std::fputs("source with which it was compiled.\n", stream);
  std::fputs("usually, the command line is:  programname  inputfile\n", stream);
  std::fputs("Other options may be found but not guaranteed \n", stream);
}

// The last piece has no line end.
void write_help(FILE* stream) {
  static const char* const pieces[] = {
      "\n\n\nCOMMAND LINE:  program  inputfilename\n",
      "\nThe program takes as input a delimeted file.   \n",
      "Each line contains as its FIRST field a decimal number which\n",
      "represents an IP address. Such as 3139666412 \n",
      "It then reads each line, and converts the decimal first to Hex: (3139666412 => BB2381EC)\n",
      "Then converts the 4 Hex segments to Decimal values of a standard IP format.\n\n",
      "3139666412 => BB:23:81:EC ==> 187.35.129.236\n\n",
      "After the process is completed it copies\n",
      "The original line of data to the output file, then\n",
      "Adds the following pipe delimeted format to the line\n\n",
      "Hex|BB2381EC|IP-Decimal|187.35.129.236\n\n",
      "And ends up with the final output line of \n\n",
      "3139666412,original data before this then|Hex|BB2381EC|IP-Decimal|187.35.129.236\n",
      "\nThe resulting data line can easily be imported to Excel\n",
      "\nFor best results, the input file should only contain the \n",
      "decimal number to convert",
  };
  for (const char* piece : pieces) std::fputs(piece, stream);
}

}  // namespace

void show_usage() { write_usage(stdout); }

void show_help() {
  std::fflush(stdout);
  plat::clear_console();
  write_help(stderr);
}

// A page to read in a pager or search with grep: nothing cleared, all on
// standard output.
void show_help_page() {
  write_usage(stdout);
  write_help(stdout);
  std::fputs("\n", stdout);
  write_option_list(stdout);
}

void show_version() { std::printf("ipconv %s\n", IPCONV_VERSION); }
