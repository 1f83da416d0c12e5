// CPU time a line of the conversion alone, without the kernel's reads and
// writes: convert_lines FILE [MIB]. The first MIB mebibytes of FILE (64
// unless given) are held in memory in blocks of whole lines and converted
// into a sink that drops them; the time their mere copy into the
// converter's buffer takes is measured apart and taken off. FILE is 8-bit
// text, or UTF-16 text with its byte-order mark.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ipconv/convert.h"

namespace {

struct Blocks : ByteSource {
  long long read(char* buffer, size_t size) override {
    if (next == blocks.size()) return 0;
    const std::string& block = blocks[next++];
    const size_t given = std::min(size, block.size());
    std::memcpy(buffer, block.data(), given);
    return static_cast<long long>(given);
  }
  std::vector<std::string> blocks;
  size_t next = 0;
};

struct Dropped : ByteSink {
  bool write(const char*, size_t) override { return true; }
};

// The line feeds of a text: bytes, or UTF-16 units in the text's order.
struct LineFeeds {
  size_t unit = 1;
  char bytes[2] = {'\n', 0};
  bool at(const std::string& block, size_t i) const {
    return block[i] == bytes[0] && (unit == 1 || block[i + 1] == bytes[1]);
  }
  // Past the last line feed; 0 without one.
  size_t end_of_last(const std::string& block) const {
    for (size_t i = block.size() / unit * unit; i >= unit; i -= unit)
      if (at(block, i - unit)) return i;
    return 0;
  }
  double count(const std::string& block) const {
    double n = 0;
    for (size_t i = 0; i + unit <= block.size(); i += unit) n += at(block, i);
    return n;
  }
};

double seconds_since(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_lines FILE [MIB]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const long mib = argc > 2 ? std::atol(argv[2]) : 64;
  Blocks source;
  double lines = 0;
  std::string carry;
  LineFeeds feeds;
  char mark[2] = {};
  in.read(mark, 2);
  const bool little = mark[0] == '\xFF' && mark[1] == '\xFE';
  if (little || (mark[0] == '\xFE' && mark[1] == '\xFF')) {
    feeds.unit = 2;
    feeds.bytes[0] = little ? '\n' : 0;
    feeds.bytes[1] = little ? 0 : '\n';
  }
  in.clear();
  in.seekg(0);
  for (long total = 0; total < mib * 1048576 && in;) {
    std::string block(kConvertBlock, '\0');
    carry.copy(block.data(), carry.size());
    in.read(block.data() + carry.size(), static_cast<std::streamsize>(kConvertBlock - carry.size()));
    block.resize(carry.size() + static_cast<size_t>(in.gcount()));
    const size_t end = feeds.end_of_last(block);
    if (end == 0) break;
    carry = block.substr(end);
    block.resize(end);
    lines += feeds.count(block);
    total += static_cast<long>(end);
    source.blocks.push_back(std::move(block));
  }
  if (lines == 0) {
    std::fprintf(stderr, "convert_lines: no whole line in %s\n", argv[1]);
    return 1;
  }
  const auto buffer = std::make_unique<char[]>(kConvertBlock);
  // The best of seven of each: the least disturbed by the rest of the
  // machine.
  double convert = 1e30, copy = 1e30;
  for (int round = 0; round < 7; ++round) {
    source.next = 0;
    std::clock_t start = std::clock();
    while (source.read(buffer.get(), kConvertBlock) > 0) {
    }
    copy = std::min(copy, seconds_since(start));
    source.next = 0;
    Dropped sink;
    start = std::clock();
    // Written as read, on this thread: the time is the line loop's, not
    // that of handing blocks to a writer.
    const InputStart first = read_input_start(source);
    if (convert_stream(source, sink, {false, "\n", true}, &first) != convert_result::ok) return 1;
    convert = std::min(convert, seconds_since(start));
  }
  std::printf("%.2f\n", (convert - copy) * 1e9 / lines);
  return 0;
}
