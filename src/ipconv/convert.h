// Conversion of one input file into its ".IP" sibling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern std::u16string pg_complete_path;
extern std::u16string cur_dir;
extern std::u16string cur_fname;

// The longest line converted as one, in code units (bytes of 8-bit text).
inline constexpr size_t kLinePieceMax = 32767;

// The walk's file hook: hands the file over as a job (jobs.h), which looks
// it up, splits pg_complete_path into cur_dir and cur_fname, converts it
// and reports, its reports and its output coming in the walk's order once
// the files handed over before it are done.
void process_file(const std::u16string* name, const std::u16string& directory);

// The address of one line of 8-bit text: its leading decimal number
// (white space, sign, digits, clamped to 64 bits), low 32 bits.
uint32_t line_address(const char* text, size_t size);
// Appends "|Hex|XXXXXXXX|IP-decimal|a.b.c.d" for `address` as 8-bit text;
// returns the end of the suffix. Bytes after it, up to kSuffixMax from
// `out`, may be overwritten (in UTF-16 text: kSuffixMax units).
inline constexpr size_t kSuffixMax = 48;
char* append_suffix(char* out, uint32_t address);

// Whole lines are looked through 32 bytes at a time where the processor
// can, else 16 bytes at a time. Both give the same output; tests run each:
// false turns the wider steps off, true turns them back on where the
// processor has them. Returns whether they are in use.
bool use_wide_line_steps(bool wanted);

// The line conversion over any byte source and sink (files in the run,
// memory in tests). Input is read and output written in blocks of
// kConvertBlock bytes: small enough that a block read, the block converted
// from it and the kernel's copies of both stay in a core's cache.
inline constexpr size_t kConvertBlock = 256 * 1024;
struct ByteSource {
  virtual ~ByteSource() = default;
  virtual long long read(char* buffer, size_t size) = 0;  // 0 end, -1 error
  // True when the next read is known to give 0, so it need not be made.
  virtual bool exhausted() const { return false; }
};
struct ByteSink {
  virtual ~ByteSink() = default;
  virtual bool write(const char* data, size_t size) = 0;
};
struct ConvertOptions {
  bool ends_at_ctrl_z;    // text input ends at the first Ctrl+Z byte
  const char* line_end;   // written after every output line
  // A pipe or terminal: whenever a read gives less than a block, the lines
  // converted so far are written, so that their reader need not wait for
  // the end of the input.
  bool write_when_input_pauses = false;
};
enum class convert_result { ok, read_failed, write_failed };

// The encoding of a text, told by the byte-order mark it begins with:
// UTF-16 LE (FF FE), UTF-16 BE (FE FF), UTF-32 (FF FE 00 00, 00 00 FE FF),
// else 8-bit text (a UTF-8 mark EF BB BF included).
enum class text_encoding { bytes, utf16le, utf16be, utf32 };

// The first block of an input, read before its output is created so that
// text this program cannot read is refused first. The conversion goes on
// from it without reading it again; it stays in the converter's own input
// buffer until the next conversion starts.
struct InputStart {
  const char* data = nullptr;
  size_t size = 0;
  bool ended = false;   // the input ended within the block
  bool failed = false;  // the read failed
  text_encoding encoding() const;
};
InputStart read_input_start(ByteSource& source);

// A byte-order mark at the very start of the input is line text but not
// part of the first line's number. With `start`, the conversion begins
// with that block read ahead, in the encoding it tells: UTF-16 text is
// converted in its own units and byte order (its suffixes and line ends
// too), and an odd byte at its end is copied after the last line.
// UTF-32 text is for the caller to refuse before; given here, and without
// `start`, the input is read as 8-bit text.
convert_result convert_stream(ByteSource& source, ByteSink& sink, const ConvertOptions& options,
                              const InputStart* start = nullptr);

// Each thread that converts has buffers of its own, made on its first
// conversion. A thread that converted frees them before it ends.
void release_thread_buffers() noexcept;

// Standard input as a filter: its lines go to the original standard output
// with the rules of a file, and every report goes to standard error.
// keep_data_output runs before anything is written to stdout.
void keep_data_output();
void convert_standard_input();

// Worst outcome of the conversions so far (0, 2 or 3), for the exit status.
extern int g_conversion_status;

// Forgets the paths of the last file, the outcome so far and the kept
// standard output (closing it), as at process start.
void reset_convert_state();
