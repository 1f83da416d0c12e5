// Checks of the command line as a whole that end the run before anything
// is read or written, where going on would convert what was not asked for
// or destroy what was.
#pragma once

#include <string>
#include <vector>

// Without a file argument the run converts the whole current tree, so
// there a long option no row knows and that is not --JOBS (a lone "--"
// among them), or -h or -H as the only argument, is taken for the help
// request it most likely was: usage and help, status 5.
void answer_mistakes_without_file_argument(const std::vector<std::u16string>& args);

// An output file that is one of the files named to convert would be
// emptied before it is read: "Output file FILE is also an input file",
// status 5. Called once the options are read, before the accounting file
// or the output file is opened.
void refuse_output_over_input();
