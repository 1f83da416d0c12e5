// What the conversion tells about a file beside its own reports: an output
// that replaces one written earlier in the run, and an input that is no
// regular file.
#pragma once

#include <string>

// Called once `input` (a complete path) has written `output`. When another
// input wrote the same output earlier in the run, one note on standard
// error names both. Outputs lie beside their inputs, so only the outputs
// of the directory being converted are kept: memory grows with the
// largest directory, not with the tree.
void note_output_written(const std::u16string& input, const std::u16string& output);

// Whether `path` names a FIFO, socket or device: what no walk hands over,
// yet found there now.
bool names_special_file(const std::u16string& path);
// Says on standard error that `path` is no regular file, and counts it as
// an input that could not be read.
void report_not_regular(const std::u16string& path);

// Forgets the outputs of the directory converted last.
void reset_file_notes();
