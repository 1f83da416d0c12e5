// Each file the walk hands over, and standard input: the checks, reports
// and statuses around the conversion of its lines (convert/).
#include "ipconv/convert.h"

#include <cstdio>
#include <memory>
#include <string>

#include "framework/paths.h"
#include "framework/walk.h"
#include "ipconv/file_notes.h"
#include "ipconv/jobs.h"
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
  long long read(char* buffer, size_t size) override {
    // A run that ends at once does not wait for the rest of a large file.
    if (jobs_discarded()) return -1;
    return file.read(buffer, size);
  }
  bool exhausted() const override { return file.at_end(); }
  plat::File& file;
};

struct FileSink final : ByteSink {
  explicit FileSink(plat::File& f) : file(f) {}
  bool write(const char* data, size_t size) override { return file.write_all(data, size); }
  plat::File& file;
};

// Why a step failed: the error the thread that took it met, told on the
// thread that reports it.
std::string reason_of(uint32_t code) {
  plat::set_last_error_code(code);
  return plat::last_error_text();
}

// One file from its lookup to its last report, kept as data between the
// steps, which a single thread takes in this order: the lookup, the input
// opened, its first block read, only then the output begun, converted,
// named. The job is finished on the main thread in walk order, with every
// report in that order and precedence; it is converted on any thread.
// Where the directory is held open for other threads, the input is opened
// and the output begun where the job is converted, so that the main thread
// keeps only what names and reports; a name that needs more than those
// plain steps (a link, a name gone, an output that needs a named
// temporary) takes the whole way on the main thread when its turn comes.
class FileJob final : public Job {
 public:
  FileJob(const std::u16string& name, const std::u16string& directory)
      : name_(name), directory_(directory), input_(directory + name) {}

  // The lookup, and the steps up to the output begun, on the main thread.
  // `in_walk`: the files handed over before it may still be under way.
  void prepare_here(bool in_walk);
  // Only the names: the rest where the job is converted, in `held`.
  void prepare_held(std::shared_ptr<plat::HeldDir> held);
  void convert() override;
  void finish() override;

 private:
  void name_output();
  void convert_input();
  // Opening the output would destroy the input: an .IP file met again by
  // "*.*", or another name of the same file. The name is told at once;
  // another name of the file when the output begins, from the open input,
  // or by the paths before any other report about the input.
  bool own_output(bool by_paths) const {
    if (by_paths && !plat::same_file(output_name_, input_)) return false;
    std::fprintf(stderr, "\nSkipped %s: it is its own output file\n", shown(input_).c_str());
    return true;
  }
  void report_input_failure(bool reading, uint32_t code) const {
    std::fprintf(stderr, "\n%s input file %s: %s\n", reading ? "Error reading" : "Can't open",
                 shown(input_).c_str(), reason_of(code).c_str());
    note_status(2);
  }
  void report_write_failure(const std::string& reason) {
    std::fprintf(stderr, "\nError writing output file %s: %s\n", shown(output_name_).c_str(),
                 reason.c_str());
    output_.abandon();
    note_status(3);
  }

  const std::u16string name_;
  const std::u16string directory_;
  const std::u16string input_;  // directory_ + name_: pg_complete_path
  std::u16string output_name_;
  std::shared_ptr<plat::HeldDir> held_;
  bool whole_way_ = false;  // for the main thread, from the lookup on
  bool found_ = true;
  bool own_name_ = false;   // the output's name is the input's
  bool opened_ = false;
  plat::File input_file_;
  uint32_t open_error_ = 0;
  plat::PendingOutput output_;
  plat::begin_result begun_ = plat::begin_result::failed;
  uint32_t begin_error_ = 0;
  // What the conversion met.
  bool start_failed_ = false;
  bool utf32_ = false;
  convert_result result_ = convert_result::ok;
  uint32_t convert_error_ = 0;  // of the first block read, or of the conversion
};

// The output's name, from pg_complete_path split into cur_dir and
// cur_fname.
void FileJob::name_output() {
  const size_t cut = name_start(pg_complete_path);
  cur_dir.assign(pg_complete_path, 0, cut);
  cur_fname.assign(pg_complete_path, cut);
  const size_t dot = cur_fname.rfind(u'.');
  if (dot != std::u16string::npos) cur_fname.resize(dot);
  output_name_ = cur_dir;
  output_name_ += cur_fname;
  output_name_ += u".IP";
  own_name_ = plat::same_dir_name(output_name_, input_);
}

void FileJob::prepare_here(bool in_walk) {
  pg_complete_path = input_;
  plat::FindData found;
  {
    plat::DirSearch lookup;
    if (!lookup.start(pg_complete_path, found, /*details=*/false) &&
        find_by_wildcard(found, pg_complete_path, name_) != 0) {
      found_ = false;
      return;
    }
  }
  // A link may lead to an output of this run: it is read once the files
  // before it are done, as a single thread would read it.
  if (in_walk && found.link) finish_jobs();
  name_output();
  if (own_name_) return;
  if (!plat::open_read(input_, input_file_)) {
    open_error_ = plat::last_error_code();
    return;
  }
  opened_ = true;
  // The output gets its name only when complete, so an earlier .IP
  // survives any failure and no walk meets a partial one.
  begun_ = plat::begin_output(output_name_, output_, &input_file_);
  if (begun_ == plat::begin_result::failed) begin_error_ = plat::last_error_code();
}

void FileJob::prepare_held(std::shared_ptr<plat::HeldDir> held) {
  pg_complete_path = input_;
  name_output();
  // What to say of an own output depends on the lookup.
  if (own_name_) {
    whole_way_ = true;
    return;
  }
  held_ = std::move(held);
}

void FileJob::convert() {
  if (held_) {
    // The begin comes before the first block here; only which failure is
    // reported depends on that order, and it is told by the data.
    const auto begun = plat::open_held(*held_, name_, input_file_)
                           ? plat::begin_held_output(*held_, output_name_, output_, &input_file_)
                           : std::nullopt;
    held_.reset();
    if (!begun) {
      input_file_.close();
      whole_way_ = true;
      return;
    }
    opened_ = true;
    begun_ = *begun;
  }
  if (opened_) convert_input();
}

void FileJob::convert_input() {
  // The first block tells the encoding; text that is not read is refused
  // before its output is written.
  FileSource source(input_file_);
  const InputStart start = read_input_start(source);
  start_failed_ = start.failed;
  utf32_ = !start.failed && start.encoding() == text_encoding::utf32;
  if (start_failed_ || utf32_) {
    convert_error_ = plat::last_error_code();
  } else if (begun_ == plat::begin_result::ok) {
    FileSink sink(output_.file);
    const ConvertOptions options{plat::text_input_ends_at_ctrl_z(), plat::line_end()};
    result_ = convert_stream(source, sink, options, &start);
    convert_error_ = plat::last_error_code();
  }
  input_file_.close();
}

void FileJob::finish() {
  if (whole_way_) {
    // Everything before it is done: the single thread's steps, here and now.
    FileJob again(name_, directory_);
    again.prepare_here(/*in_walk=*/false);
    again.convert();
    again.finish();
    return;
  }
  if (!found_) {
    if (names_special_file(input_)) report_not_regular(input_);
    return;
  }
  if (own_name_) {
    own_output(false);
    return;
  }
  if (!opened_) {
    if (own_output(true)) return;
    if (names_special_file(input_)) {
      report_not_regular(input_);
      return;
    }
    report_input_failure(false, open_error_);
    return;
  }
  if (start_failed_ || utf32_) {
    output_.abandon();  // begun ahead of its turn: nothing to say about it
    if (own_output(true)) return;
    if (start_failed_) {
      report_input_failure(true, convert_error_);
    } else {
      std::fprintf(stderr, "\nSkipped %s: UTF-32 text is not read\n", shown(input_).c_str());
      note_status(2);
    }
    return;
  }
  if (begun_ == plat::begin_result::same_file) {
    own_output(false);
    return;
  }
  if (begun_ != plat::begin_result::ok) {
    std::fprintf(stderr, "\nCan't create output file %s: %s\n", shown(output_name_).c_str(),
                 begun_ == plat::begin_result::read_only ? "read-only"
                                                        : reason_of(begin_error_).c_str());
    note_status(3);
    return;
  }

  std::fprintf(stdout, "\nInput file  %s\nOutput file %s\n", shown(input_).c_str(),
               shown(output_name_).c_str());
  if (result_ == convert_result::read_failed) {
    report_input_failure(true, convert_error_);
    output_.abandon();
    return;
  }
  if (result_ != convert_result::ok) {
    report_write_failure(reason_of(convert_error_));
    return;
  }
  if (!plat::commit_output(output_)) {
    report_write_failure(plat::last_error_text());
    return;
  }
  close_later(std::move(output_.file));
  note_output_written(input_, output_name_);
}

}  // namespace

void process_file(const std::u16string* name, const std::u16string& directory) {
  if (name == nullptr) return;  // a directory handed over by the walk
  if (*name == u"." || *name == u"..") return;
  auto job = std::make_unique<FileJob>(*name, directory);
  // Several threads at work, files of the directory just listed are opened
  // where they are converted.
  if (job_threads() > 1) {
    if (auto held = plat::hold_listed_dir(directory)) {
      job->prepare_held(std::move(held));
      hand_over_job(std::move(job));
      return;
    }
  }
  job->prepare_here(/*in_walk=*/true);
  hand_over_job(std::move(job));
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
