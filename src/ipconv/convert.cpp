// Each file the walk hands over, and standard input: the checks, reports
// and statuses around the conversion of its lines (convert/).
#include "ipconv/convert.h"

#include <cstdio>
#include <string>

#include "framework/paths.h"
#include "framework/walk.h"
#include "ipconv/file_notes.h"
#include "platform/platform.h"

std::u16string pg_complete_path;
std::u16string cur_dir;
std::u16string cur_fname;
int g_conversion_status = 0;

namespace {

void note_status(int status) {
  if (status > g_conversion_status) g_conversion_status = status;
}

std::string shown(const std::u16string& path) {
  return plat::to_native(without_long_prefix(path));
}

struct FileSource final : ByteSource {
  explicit FileSource(plat::File& f) : file(f) {}
  long long read(char* buffer, size_t size) override { return file.read(buffer, size); }
  bool exhausted() const override { return file.at_end(); }
  plat::File& file;
};

struct FileSink final : ByteSink {
  explicit FileSink(plat::File& f) : file(f) {}
  bool write(const char* data, size_t size) override { return file.write_all(data, size); }
  plat::File& file;
};

}  // namespace

void process_file(const std::u16string* name, const std::u16string& directory) {
  if (name == nullptr) return;  // a directory handed over by the walk
  if (*name == u"." || *name == u"..") return;
  pg_complete_path = directory;
  pg_complete_path += *name;

  {
    plat::DirSearch lookup;
    plat::FindData found;
    if (!lookup.start(pg_complete_path, found, /*details=*/false) &&
        find_by_wildcard(found, pg_complete_path, *name) != 0) {
      report_not_regular(pg_complete_path);
      return;
    }
  }

  const size_t cut = name_start(pg_complete_path);
  cur_dir.assign(pg_complete_path, 0, cut);
  cur_fname.assign(pg_complete_path, cut);
  const size_t dot = cur_fname.rfind(u'.');
  if (dot != std::u16string::npos) cur_fname.resize(dot);
  convert_file();
}

void convert_file() {
  std::u16string output_name = cur_dir;
  output_name += cur_fname;
  output_name += u".IP";

  // Opening the output would destroy the input: an .IP file met again by
  // "*.*", or another name of the same file. The name is told at once;
  // another name of the file when the output begins, from the open input,
  // or by the paths before any other report about the input.
  auto own_output = [&output_name](bool by_paths) {
    if (by_paths && !plat::same_file(output_name, pg_complete_path)) return false;
    std::fprintf(stderr, "\nSkipped %s: it is its own output file\n",
                 shown(pg_complete_path).c_str());
    return true;
  };
  if (plat::same_dir_name(output_name, pg_complete_path)) {
    own_output(false);
    return;
  }

  plat::File input;
  if (!plat::open_read(pg_complete_path, input)) {
    const std::string reason = plat::last_error_text();
    if (own_output(true) || report_not_regular(pg_complete_path)) return;
    std::fprintf(stderr, "\nCan't open input file %s: %s\n", shown(pg_complete_path).c_str(),
                 reason.c_str());
    note_status(2);
    return;
  }
  // The first block tells the encoding before any output exists for it.
  FileSource source(input);
  const InputStart start = read_input_start(source);
  if (start.failed || start.encoding() == text_encoding::utf32) {
    const std::string reason = plat::last_error_text();
    if (own_output(true)) return;
    if (start.failed)
      std::fprintf(stderr, "\nError reading input file %s: %s\n", shown(pg_complete_path).c_str(),
                   reason.c_str());
    else
      std::fprintf(stderr, "\nSkipped %s: UTF-32 text is not read\n",
                   shown(pg_complete_path).c_str());
    note_status(2);
    return;
  }
  // The output gets its name only when complete, so an earlier .IP
  // survives any failure and no walk meets a partial one.
  plat::PendingOutput output;
  const plat::begin_result begun = plat::begin_output(output_name, output, &input);
  if (begun == plat::begin_result::same_file) {
    own_output(false);
    return;
  }
  if (begun != plat::begin_result::ok) {
    std::fprintf(stderr, "\nCan't create output file %s: %s\n", shown(output_name).c_str(),
                 begun == plat::begin_result::read_only ? "read-only"
                                                        : plat::last_error_text().c_str());
    note_status(3);
    return;
  }

  std::fprintf(stdout, "\nInput file  %s\nOutput file %s\n", shown(pg_complete_path).c_str(),
               shown(output_name).c_str());

  FileSink sink(output.file);
  const ConvertOptions options{plat::text_input_ends_at_ctrl_z(), plat::line_end()};
  const convert_result result = convert_stream(source, sink, options, &start);

  if (result == convert_result::read_failed) {
    std::fprintf(stderr, "\nError reading input file %s: %s\n", shown(pg_complete_path).c_str(),
                 plat::last_error_text().c_str());
    output.abandon();
    note_status(2);
    return;
  }
  if (result != convert_result::ok || !plat::commit_output(output)) {
    std::fprintf(stderr, "\nError writing output file %s: %s\n", shown(output_name).c_str(),
                 plat::last_error_text().c_str());
    output.abandon();
    note_status(3);
    return;
  }
  input.close();
  note_output_written(pg_complete_path, output_name);
}

namespace {

// The original standard output of a run that converts standard input.
plat::File g_data_output;
std::string g_data_output_error;

}  // namespace

void keep_data_output() {
  if (!plat::keep_standard_output(g_data_output)) g_data_output_error = plat::last_error_text();
}

void convert_standard_input() {
  plat::File input;
  if (!plat::open_standard_input(input)) {
    std::fprintf(stderr, "\nError reading standard input: %s\n", plat::last_error_text().c_str());
    note_status(2);
    return;
  }
  FileSource source(input);
  const InputStart start = read_input_start(source);
  if (start.encoding() == text_encoding::utf32) {
    std::fputs("\nSkipped standard input: UTF-32 text is not read\n", stderr);
    note_status(2);
    return;
  }
  if (!g_data_output.is_open()) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", g_data_output_error.c_str());
    note_status(3);
    return;
  }
  FileSink sink(g_data_output);
  const ConvertOptions options{plat::text_input_ends_at_ctrl_z(), plat::line_end(), true};
  const convert_result result = convert_stream(source, sink, options, &start);
  if (result == convert_result::read_failed) {
    std::fprintf(stderr, "\nError reading standard input: %s\n", plat::last_error_text().c_str());
    note_status(2);
  }
  // Closed now, so that the reader of the lines sees their end while files
  // are still converted.
  if (!g_data_output.close() || result == convert_result::write_failed) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", plat::last_error_text().c_str());
    note_status(3);
  }
}

void reset_convert_state() {
  pg_complete_path.clear();
  cur_dir.clear();
  cur_fname.clear();
  g_conversion_status = 0;
  g_data_output = plat::File();
  g_data_output_error.clear();
}
