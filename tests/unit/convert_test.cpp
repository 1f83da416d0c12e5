// The line conversion: the number rule, the suffix, and the text rules of
// the stream (CR LF, Ctrl+Z, long-line pieces), over every block split.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "ipconv/convert.h"
#include "platform/platform.h"
#include "support/test_support.h"

using test::utf16_bytes;

namespace {

// A second, plain computation of the suffix: the C runtime's strtoll and
// printf on a terminated copy of the line.
std::string expected_suffix(const std::string& line) {
  std::string copy = line.substr(0, line.find('\0'));
  const long long number = std::strtoll(copy.c_str(), nullptr, 10);
  const uint32_t address = static_cast<uint32_t>(static_cast<unsigned long long>(number));
  char text[64];
  std::snprintf(text, sizeof text, "|Hex|%08" PRIX32 "|IP-decimal|%u.%u.%u.%u", address,
                address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

std::string suffix_of(const std::string& line) {
  char out[kSuffixMax];
  char* end = append_suffix(out, line_address(line.data(), line.size()));
  return std::string(out, end);
}

// Hands the input over in pieces of `chunk` bytes to exercise every
// boundary between blocks.
struct ChunkSource : ByteSource {
  ChunkSource(std::string text, size_t chunk) : data(std::move(text)), step(chunk) {}
  long long read(char* buffer, size_t size) override {
    const size_t n = std::min({size, step, data.size() - pos});
    data.copy(buffer, n, pos);
    pos += n;
    return static_cast<long long>(n);
  }
  std::string data;
  size_t step;
  size_t pos = 0;
};

struct StringSink : ByteSink {
  bool write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

const std::string kZero = "|Hex|00000000|IP-decimal|0.0.0.0";
const std::string kUtf8Mark = "\xEF\xBB\xBF";

// Equal texts; where not, their sizes and where they first differ (the
// diff of long texts would take minutes).
testing::AssertionResult same_text(const std::string& got, const std::string& wanted) {
  if (got == wanted) return testing::AssertionSuccess();
  const auto at = static_cast<size_t>(
      std::mismatch(got.begin(), got.end(), wanted.begin(), wanted.end()).first - got.begin());
  const size_t from = at < 40 ? 0 : at - 40;
  return testing::AssertionFailure()
         << "sizes " << got.size() << " and " << wanted.size() << ", first difference at " << at
         << ":\n  " << testing::PrintToString(got.substr(from, 80)) << "\n  "
         << testing::PrintToString(wanted.substr(from, 80));
}

// Converts as 8-bit text, or with `told` in the encoding its first block
// tells, as a file is converted.
std::string convert_text(const std::string& input, size_t chunk, bool ctrl_z, const char* eol,
                         bool told = false) {
  ChunkSource source(input, chunk);
  const InputStart start = told ? read_input_start(source) : InputStart{};
  StringSink sink;
  EXPECT_EQ(convert_stream(source, sink, {ctrl_z, eol}, told ? &start : nullptr),
            convert_result::ok);
  return sink.text;
}

// The 8-bit conversion. Every input is also converted as UTF-16 in either
// byte order, the same bytes as units after a first line of the mark
// alone: the lines after that one must be the 8-bit lines as units. (A
// UTF-8 mark is read as one only in 8-bit text.)
std::string convert(const std::string& input, size_t chunk = 1 << 20, bool ctrl_z = false,
                    const char* eol = "\n") {
  const std::string bytes = convert_text(input, chunk, ctrl_z, eol);
  if (!input.starts_with(kUtf8Mark)) {
    for (bool big_endian : {false, true}) {
      const std::string mark = utf16_bytes(u"\uFEFF", big_endian);
      const std::string units = mark + utf16_bytes("\n" + input, big_endian);
      EXPECT_TRUE(same_text(convert_text(units, chunk, ctrl_z, eol, true),
                            mark + utf16_bytes(kZero + eol + bytes, big_endian)))
          << (big_endian ? "UTF-16 BE " : "UTF-16 LE ") << chunk;
    }
  }
  return bytes;
}

}  // namespace

TEST(LineAddress, WorkedExamples) {
  EXPECT_EQ(suffix_of("3139666412"), "|Hex|BB2381EC|IP-decimal|187.35.129.236");
  EXPECT_EQ(suffix_of("16909060,host"), "|Hex|01020304|IP-decimal|1.2.3.4");
  EXPECT_EQ(suffix_of("0"), kZero);
  EXPECT_EQ(suffix_of("-1"), "|Hex|FFFFFFFF|IP-decimal|255.255.255.255");
  EXPECT_EQ(suffix_of("4294967296"), kZero);
  EXPECT_EQ(suffix_of("  42 first"), "|Hex|0000002A|IP-decimal|0.0.0.42");
  EXPECT_EQ(suffix_of("name,3139666412"), kZero);
}

TEST(LineAddress, ClampsBeyondSixtyFourBits) {
  EXPECT_EQ(suffix_of("99999999999999999999999"), "|Hex|FFFFFFFF|IP-decimal|255.255.255.255");
  EXPECT_EQ(suffix_of("-99999999999999999999999"), kZero);
  EXPECT_EQ(suffix_of("9223372036854775807"), "|Hex|FFFFFFFF|IP-decimal|255.255.255.255");
  EXPECT_EQ(suffix_of("-9223372036854775808"), kZero);
  EXPECT_EQ(suffix_of("9223372036854775808"), "|Hex|FFFFFFFF|IP-decimal|255.255.255.255");
  EXPECT_EQ(suffix_of("-9223372036854775807"), "|Hex|00000001|IP-decimal|0.0.0.1");
}

TEST(LineAddress, SignsAndSpaces) {
  EXPECT_EQ(suffix_of("+16909060"), "|Hex|01020304|IP-decimal|1.2.3.4");
  EXPECT_EQ(suffix_of("\t\v\f\r 7"), "|Hex|00000007|IP-decimal|0.0.0.7");
  EXPECT_EQ(suffix_of("+-5"), kZero);
  EXPECT_EQ(suffix_of("- 5"), kZero);
  EXPECT_EQ(suffix_of(""), kZero);
  EXPECT_EQ(suffix_of("0x10"), kZero);
  EXPECT_EQ(suffix_of(std::string("12\0" "34", 5)), "|Hex|0000000C|IP-decimal|0.0.0.12");
}

TEST(LineAddress, AgreesWithTheRuntimeOnRandomAndExtremeNumbers) {
  std::mt19937_64 rng(20261208);
  std::vector<std::string> lines;
  for (int i = 0; i < 20000; ++i) {
    const uint64_t raw = rng();
    switch (i % 5) {
      case 0: lines.push_back(std::to_string(raw & 0xFFFFFFFF)); break;
      case 1: lines.push_back(std::to_string(static_cast<int64_t>(raw))); break;
      case 2: lines.push_back(std::to_string(raw) + std::to_string(rng() % 1000)); break;
      case 3: lines.push_back("  -" + std::to_string(raw % 100000000000ULL) + ",x"); break;
      default: {
        std::string digits(1 + rng() % 30, '0');
        for (auto& d : digits) d = static_cast<char>('0' + rng() % 10);
        lines.push_back((rng() % 2 ? "-" : "") + digits);
      }
    }
  }
  for (const char* edge : {"4294967295", "4294967296", "-4294967296", "-4294967297",
                           "18446744073709551615", "18446744073709551616", "000000000042",
                           "-0", "+0", "2147483648", "-2147483648"})
    lines.push_back(edge);
  // Every number again with line text after it: from 16 bytes on, the
  // digits are read eight at a time, and a run of 8 or 16 digits ends a word.
  const size_t plain = lines.size();
  for (size_t i = 0; i < plain; ++i) lines.push_back(lines[i] + ",host0085.example.net");
  for (const char* edge : {"9999999999999999,x", "99999999999999999,x", "1234567812345678",
                           "12345678123456789", "12345678,12345678", "1,23456789012345678",
                           "9223372036854775807,x", "9223372036854775808,x",
                           "-9223372036854775808,x", "-9223372036854775809,x", "+,123456789012345",
                           "- 123456789012345", "4294967296,000000000", "00000000000000004294967297",
                           "123456789012345,6789", "1234567,890123456789"})
    lines.push_back(edge);
  for (const auto& line : lines) ASSERT_EQ(suffix_of(line), expected_suffix(line)) << line;
  // The same as lines of a text: read in whole-line runs, in either width
  // of their steps, and as UTF-16 (convert).
  std::string input, output;
  for (const auto& line : lines) {
    input += line + "\n";
    output += line + expected_suffix(line) + "\n";
  }
  for (bool wide : {true, false}) {
    use_wide_line_steps(wide);
    EXPECT_TRUE(same_text(convert(input), output)) << wide;
  }
  use_wide_line_steps(true);
}

TEST(ConvertStream, CopiesEveryLineAndAppendsTheSuffix) {
  EXPECT_EQ(convert("3139666412,original data\n16909060\n"),
            "3139666412,original data|Hex|BB2381EC|IP-decimal|187.35.129.236\n"
            "16909060|Hex|01020304|IP-decimal|1.2.3.4\n");
  EXPECT_EQ(convert(""), "");
  EXPECT_EQ(convert("\n"), kZero + "\n");
  EXPECT_EQ(convert("ip,host\n\n"), "ip,host" + kZero + "\n" + kZero + "\n");
}

TEST(ConvertStream, LastLineWithoutLineFeedIsComplete) {
  EXPECT_EQ(convert("1\n258"), "1|Hex|00000001|IP-decimal|0.0.0.1\n258|Hex|00000102|IP-decimal|0.0.1.2\n");
}

TEST(ConvertStream, CrLfConvertsLikeLf) {
  const std::string lf = convert("1,a\n2,b\n3");
  for (size_t chunk : {1, 2, 3, 7, 4096}) {
    EXPECT_EQ(convert("1,a\r\n2,b\r\n3", chunk), lf) << chunk;
  }
  // A lone CR is line text, also at the very end and before another CR.
  EXPECT_EQ(convert("5\r"), "5\r|Hex|00000005|IP-decimal|0.0.0.5\n");
  EXPECT_EQ(convert("5\rx\n"), "5\rx|Hex|00000005|IP-decimal|0.0.0.5\n");
  EXPECT_EQ(convert("5\r\r\n", 1), "5\r|Hex|00000005|IP-decimal|0.0.0.5\n");
  EXPECT_EQ(convert("\r\r\r"), "\r\r\r" + kZero + "\n");
}

TEST(ConvertStream, NulAndHighBytesAreCopied) {
  const std::string line("7\0\x80\xff tail", 9);
  for (size_t chunk : {1, 3, 100}) {
    EXPECT_EQ(convert(line + "\n", chunk), line + "|Hex|00000007|IP-decimal|0.0.0.7\n");
  }
}

TEST(ConvertStream, LongLinesArriveInPieces) {
  const std::string piece(kLinePieceMax, '9');
  const std::string piece_suffix = expected_suffix(piece);
  // One character more than a piece: two lines, the second of one digit.
  EXPECT_EQ(convert(piece + "1\n"), piece + piece_suffix + "\n1|Hex|00000001|IP-decimal|0.0.0.1\n");
  // Exactly a piece and its line feed: one line, no empty line after it.
  for (size_t chunk : {1, 4096, 32767, 32768, 1 << 20}) {
    EXPECT_EQ(convert(piece + "\n2\n", chunk), piece + piece_suffix + "\n2|Hex|00000002|IP-decimal|0.0.0.2\n")
        << chunk;
    EXPECT_EQ(convert(piece + "\r\n", chunk), piece + piece_suffix + "\n") << chunk;
  }
  // Three pieces of a long line without line end.
  const std::string text = "5" + std::string(2 * kLinePieceMax, 'x');
  const std::string out = convert(text, 5000);
  const std::string first = text.substr(0, kLinePieceMax);
  EXPECT_EQ(out, first + "|Hex|00000005|IP-decimal|0.0.0.5\n" +
                     text.substr(kLinePieceMax, kLinePieceMax) + kZero + "\n" + "x" + kZero + "\n");
}

TEST(ConvertStream, CtrlZEndsTheInputOnlyWhereThePlatformSaysSo) {
  EXPECT_EQ(convert("1\n2\x1a" "3\n4\n", 1 << 20, true), "1|Hex|00000001|IP-decimal|0.0.0.1\n2|Hex|00000002|IP-decimal|0.0.0.2\n");
  EXPECT_EQ(convert("1\x1a\n", 1, true), "1|Hex|00000001|IP-decimal|0.0.0.1\n");
  EXPECT_EQ(convert("\x1a" "1\n", 1 << 20, true), "");
  EXPECT_EQ(convert("1\x1a\n"), "1\x1a|Hex|00000001|IP-decimal|0.0.0.1\n");
}

TEST(ConvertStream, Utf8ByteOrderMarkIsCopiedButNotReadAsTheFirstNumber) {
  const std::string mark = "\xEF\xBB\xBF";
  for (size_t chunk : {1, 2, 3, 4, 1 << 20}) {
    // Only at the very start: a mark on a later line is line text.
    EXPECT_EQ(convert(mark + "42,x\r\n" + mark + "7\n", chunk),
              mark + "42,x|Hex|0000002A|IP-decimal|0.0.0.42\n" + mark + "7" + kZero + "\n")
        << chunk;
  }
  EXPECT_EQ(convert(mark), mark + kZero + "\n");
  EXPECT_EQ(convert(mark + " -1\n"), mark + " -1|Hex|FFFFFFFF|IP-decimal|255.255.255.255\n");
  EXPECT_EQ(convert("\xEF\xBB" "5\n"), "\xEF\xBB" "5" + kZero + "\n");
}

TEST(ConvertStream, Utf16IsReadInUnitsAndAnOddLastByteIsCopied) {
  const auto u16 = [](const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
  };
  // Units above 255 are no digit, sign, space or line end, whichever bytes
  // they hold: U+0131 and U+3100 hold that of '1', U+010B that of a space,
  // U+0A0D and U+0D0A those of CR and LF. Surrogates, unpaired ones too,
  // are copied. Each line with the text its number is read as.
  const std::u16string high(1, char16_t{0xD800}), low(1, char16_t{0xDC00});
  const std::pair<std::u16string, const char*> lines[] = {
      {u"\u0131 7", "x"},
      {u"\u010B7", "x"},
      {u"-\u31005", "-x"},
      {u"\u31002,x", "x"},
      {u"9\u0A0D\u0D0A" + high + u"x", "9"},
      {u"1\u01312,x", "1"},
      {u"12345678\u01319,host", "12345678"},
      {u" 123456789012345\u01316,host", " 123456789012345"},
      {u"4294967297" + low, "4294967297"},
  };
  // The mark is line text but not part of the first number. Each line
  // comes again and again, so that runs of whole lines take them too.
  std::u16string text = u"\uFEFF42,x\r\n";
  std::u16string converted = u"\uFEFF42,x" + u16(expected_suffix("42") + "\n");
  for (int round = 0; round < 8; ++round) {
    for (const auto& [line, number] : lines) {
      text += line + (round % 2 ? u"\r\n" : u"\n");
      converted += line + u16(expected_suffix(number) + "\n");
    }
  }
  const auto ends = [&u16](const char* number) { return u16(expected_suffix(number) + "\n"); };
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "UTF-16 BE" : "UTF-16 LE");
    const auto in = [big_endian](const std::u16string& units) {
      return utf16_bytes(units, big_endian);
    };
    for (size_t chunk : {1, 2, 3, 1 << 20}) {
      EXPECT_EQ(convert_text(in(text), chunk, false, "\n", true), in(converted)) << chunk;
      // An odd last byte follows the last line as it was, unless the
      // input ended before it at a Ctrl+Z.
      EXPECT_EQ(convert_text(in(u"\uFEFF1") + "Z", chunk, false, "\n", true),
                in(u"\uFEFF1" + ends("1")) + "Z")
          << chunk;
      EXPECT_EQ(convert_text(in(u"\uFEFF1\n\u001A2") + "Z", chunk, true, "\n", true),
                in(u"\uFEFF1" + ends("1")))
          << chunk;
    }
  }
}

// The block read ahead: what it tells of the text, and a conversion that
// goes on from it as if nothing had been read before.
TEST(InputStart, TellsTheEncodingAlsoFromAPipeThatGivesOneByte) {
  using enum text_encoding;
  const std::pair<std::string, text_encoding> cases[] = {
      {std::string("\xFF\xFE" "1\0\n\0", 6), utf16le},
      {std::string("\xFE\xFF\0" "1\0\n", 6), utf16be},
      {std::string("\xFF\xFE\0\0" "1\0\0\0", 8), utf32},
      {std::string("\0\0\xFE\xFF\0\0\0" "1", 8), utf32},
      // Too short for UTF-32: UTF-16 with an odd byte.
      {std::string("\xFF\xFE\0", 3), utf16le},
      {std::string("\0\0\xFE", 3), bytes},
      {"\xFF", bytes},
      {"\xFE\xFE", bytes},
      {"\xEF\xBB\xBF" "1\n", bytes},
      {"1\xFF\xFE", bytes},
      {"", bytes},
  };
  for (const auto& [input, encoding] : cases) {
    for (size_t chunk : {1, 1 << 20}) {
      ChunkSource source(input, chunk);
      EXPECT_EQ(read_input_start(source).encoding(), encoding) << chunk << " " << input;
    }
  }
}

TEST(InputStart, ConversionGoesOnFromTheBlockReadAhead) {
  for (const std::string input : {"1\n2\r\n3", "\xFF" "9\n", "", "\xEF\xBB\xBF" "8\n"}) {
    for (size_t chunk : {1, 5, 1 << 20}) {
      ChunkSource source(input, chunk);
      const InputStart start = read_input_start(source);
      StringSink sink;
      EXPECT_EQ(convert_stream(source, sink, {false, "\n"}, &start), convert_result::ok);
      EXPECT_EQ(sink.text, convert(input)) << chunk << " " << input;
    }
  }
  // An end seen while reading ahead is not asked for again: a terminal
  // would wait for a second end of input.
  struct EndsOnce : ByteSource {
    long long read(char*, size_t) override { return reads++ == 0 ? 0 : -1; }
    int reads = 0;
  } terminal;
  const InputStart start = read_input_start(terminal);
  StringSink sink;
  EXPECT_EQ(convert_stream(terminal, sink, {false, "\n"}, &start), convert_result::ok);
  EXPECT_EQ(terminal.reads, 1);
}

TEST(ConvertStream, WritesTheLinesSoFarWhenAPipePausesOnlyWhenAsked) {
  // One line per read, as from a pipe that is written slowly; each read
  // notes what its reader had been given by then.
  struct SlowPipe : ByteSource {
    long long read(char* buffer, size_t) override {
      given.push_back(sink.text);
      if (next == lines.size()) return 0;
      lines[next].copy(buffer, lines[next].size());
      return static_cast<long long>(lines[next++].size());
    }
    std::vector<std::string> lines{"1\n", "2", "\n"};
    size_t next = 0;
    StringSink sink;
    std::vector<std::string> given;
  };
  const std::string one = "1|Hex|00000001|IP-decimal|0.0.0.1\n";
  const std::string two = "2|Hex|00000002|IP-decimal|0.0.0.2\n";
  for (bool asked : {true, false}) {
    SlowPipe pipe;
    const InputStart start = read_input_start(pipe);
    EXPECT_EQ(convert_stream(pipe, pipe.sink, {false, "\n", asked}, &start), convert_result::ok);
    EXPECT_EQ(pipe.sink.text, one + two);
    if (asked)
      EXPECT_EQ(pipe.given, (std::vector<std::string>{"", one, one, one + two}));
    else
      EXPECT_EQ(pipe.given, (std::vector<std::string>{"", "", "", ""}));
  }
}

TEST(ConvertStream, WritesThePlatformLineEnd) {
  EXPECT_EQ(convert("1\r\n2\n", 1 << 20, false, "\r\n"),
            "1|Hex|00000001|IP-decimal|0.0.0.1\r\n2|Hex|00000002|IP-decimal|0.0.0.2\r\n");
}

TEST(ConvertStream, SameOutputWhateverTheBlockSplit) {
  std::mt19937 rng(7);
  std::string input;
  for (int i = 0; i < 3000; ++i) {
    input += std::to_string(rng());
    input += i % 3 ? ",host,2026-12-08\r\n" : ",x\n";
    if (i % 500 == 0) input += std::string(40000, 'a') + "\n";
  }
  // Lines of every length around 64 and 128 bytes, and a CR on either side
  // of those marks: whole blocks find each line end 128 bytes at a time.
  // Some are followed by a short line, whose end is then in the same bytes,
  // or by numbers of every count of digits up to 24, all nines or any.
  for (size_t length = 0; length < 300; ++length) {
    input += std::to_string(rng()) + std::string(length % 150, 'x') + (length % 2 ? "\r\n" : "\n");
    if (length % 3 == 0) input += "7,x\n";
    if (length < 25) {
      input += std::string(length, '9') + (length % 2 ? "\n" : ",x\n");
      const std::string digits = std::to_string(rng()) + std::to_string(rng()) + std::to_string(rng());
      input += digits.substr(0, length) + ",x\n";
    }
  }
  // One byte a read, no line is whole in a block: every line takes the
  // byte path. Either width of the whole-line steps gives the same.
  const std::string whole = convert(input, 1);
  for (bool wide : {true, false}) {
    SCOPED_TRACE(use_wide_line_steps(wide) ? "32-byte steps" : "16-byte steps");
    for (size_t chunk : {2, 17, 4095, 65536, 300000, 1 << 20})
      EXPECT_EQ(convert(input, chunk), whole) << chunk;
  }
  use_wide_line_steps(true);
}

TEST(ConvertStream, ReportsReadAndWriteFailures) {
  struct FailingSource : ByteSource {
    long long read(char*, size_t) override { return -1; }
  } bad_source;
  struct FailingSink : ByteSink {
    bool write(const char*, size_t) override { return false; }
  } bad_sink;
  StringSink sink;
  ChunkSource source("1\n2\n", 1);
  const ConvertOptions options{false, "\n"};
  EXPECT_EQ(convert_stream(bad_source, sink, options), convert_result::read_failed);
  const InputStart failed = read_input_start(bad_source);
  EXPECT_TRUE(failed.failed);
  EXPECT_EQ(convert_stream(bad_source, sink, options, &failed), convert_result::read_failed);
  EXPECT_EQ(convert_stream(source, bad_sink, options), convert_result::write_failed);

  // The first write fails inside a long line that began in the block
  // before, with the output block nearly full: the pieces still converted
  // from the rest of the block must stay within the output block.
  const size_t block = kConvertBlock;
  const size_t piece_start = block - kLinePieceMax + 1;
  std::string lines;
  while (lines.size() + 30001 < piece_start) lines += std::string(30000, 'x') + "\n";
  lines += std::string(piece_start - lines.size() - 1, 'x') + "\n";
  const std::string input = lines + std::string(block - piece_start + block, 'a');
  ChunkSource long_line(input, block);
  EXPECT_EQ(convert_stream(long_line, bad_sink, options), convert_result::write_failed);
}

namespace {

// Lines of about `line` bytes up to `size` bytes in all, and their output.
std::pair<std::string, std::string> numbered_lines(size_t size, size_t line) {
  std::mt19937 rng(11);
  std::string input, output;
  while (input.size() < size) {
    std::string text = std::to_string(rng());
    text += ',';
    text.resize(std::max(text.size(), line - 1), 'h');
    input += text + "\n";
    output += text + expected_suffix(text) + "\n";
  }
  return {input, output};
}

}  // namespace

TEST(ConvertStream, OverlappedWritesStopAtTheFirstFailedBlock) {
  // Blocks after the first are written while the next one is converted. A
  // sink that fails on its Nth block is given nothing after it, the
  // converter stops within the blocks under way, and the sink's error is
  // the one reported.
  struct CountingSink : ByteSink {
    explicit CountingSink(int n) : fail_at(n) {}
    bool write(const char* data, size_t size) override {
      if (++writes == fail_at) {
        // Slow to fail, so that the converter has queued what follows.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        plat::set_last_error_code(28);
        return false;
      }
      text.append(data, size);
      return true;
    }
    int fail_at;
    int writes = 0;
    std::string text;
  };
  const size_t block = kConvertBlock;
  const auto [input, output] = numbered_lines(16 * block, 40);
  for (int fail_at : {0, 1, 2, 4}) {
    ChunkSource source(input, block);
    CountingSink sink(fail_at);
    plat::set_last_error_code(0);
    const convert_result result = convert_stream(source, sink, {false, "\n"});
    if (fail_at == 0) {
      EXPECT_EQ(result, convert_result::ok);
      EXPECT_EQ(sink.text, output);
      continue;
    }
    EXPECT_EQ(result, convert_result::write_failed) << fail_at;
    EXPECT_EQ(sink.writes, fail_at);
    EXPECT_EQ(sink.text, output.substr(0, sink.text.size())) << fail_at;
    EXPECT_GE(sink.text.size(), (fail_at - 1) * (block - 100)) << fail_at;
    EXPECT_LE(source.pos, (fail_at + 4) * block) << fail_at;
    EXPECT_EQ(plat::last_error_code(), 28u) << fail_at;
  }
}

TEST(ConvertStream, AReadFailureWaitsForTheWriteUnderWay) {
  // The second read fails while the first output block is being written.
  // The conversion ends only once the write has, and a failure of the
  // write is what is reported, as when the two took turns.
  struct Shared {
    std::atomic<bool> read_failed{false};
    std::atomic<int> writing{0};
  };
  struct FailingRead : ByteSource {
    FailingRead(Shared& s, std::string text, int n) : shared(s), data(std::move(text)), fail_at(n) {}
    long long read(char* buffer, size_t size) override {
      if (reads++ == fail_at) {
        plat::set_last_error_code(5);
        shared.read_failed = true;
        return -1;
      }
      const size_t n = std::min(size, data.size() - pos);
      data.copy(buffer, n, pos);
      pos += n;
      return static_cast<long long>(n);
    }
    Shared& shared;
    std::string data;
    int fail_at;
    int reads = 0;
    size_t pos = 0;
  };
  struct SlowSink : ByteSink {
    SlowSink(Shared& s, bool f) : shared(s), fails(f) {}
    bool write(const char* data, size_t size) override {
      ++shared.writing;
      for (int i = 0; i < 10000 && !shared.read_failed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (text.empty()) overlapped = shared.read_failed;
      text.append(data, size);
      if (fails) plat::set_last_error_code(28);
      --shared.writing;
      return !fails;
    }
    Shared& shared;
    bool fails;
    bool overlapped = false;
    std::string text;
  };
  const size_t block = kConvertBlock;
  const auto [input, output] = numbered_lines(3 * block, 1000);
  {
    const int fail_at = 1;
    for (bool write_fails : {false, true}) {
      Shared shared;
      FailingRead source(shared, input, fail_at);
      SlowSink sink(shared, write_fails);
      const convert_result result = convert_stream(source, sink, {false, "\n"});
      EXPECT_EQ(shared.writing.load(), 0);
      EXPECT_TRUE(sink.overlapped) << fail_at;
      EXPECT_EQ(result, write_fails ? convert_result::write_failed : convert_result::read_failed);
      EXPECT_EQ(plat::last_error_code(), write_fails ? 28u : 5u) << fail_at;
      // The blocks converted before the failure, and not what followed.
      EXPECT_GT(sink.text.size(), block - 2000);
      EXPECT_LT(sink.text.size(), fail_at * block);
      EXPECT_EQ(sink.text, output.substr(0, sink.text.size()));
    }
  }
}
