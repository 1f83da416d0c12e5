// CPU time a line of the conversion alone, without the kernel's reads and
// writes: convert_lines FILE [MIB]. The first MIB mebibytes of FILE (64
// unless given) are held in memory in blocks of whole lines and converted
// into a sink that drops them; the time their mere copy into the
// converter's buffer takes is measured apart and taken off.
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
  for (long total = 0; total < mib * 1048576 && in;) {
    std::string block(kConvertBlock, '\0');
    carry.copy(block.data(), carry.size());
    in.read(block.data() + carry.size(), static_cast<std::streamsize>(kConvertBlock - carry.size()));
    block.resize(carry.size() + static_cast<size_t>(in.gcount()));
    const size_t end = block.rfind('\n') + 1;  // 0 without a line feed
    if (end == 0) break;
    carry = block.substr(end);
    block.resize(end);
    lines += static_cast<double>(std::count(block.begin(), block.end(), '\n'));
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
    if (convert_stream(source, sink, {false, "\n", true}) != convert_result::ok) return 1;
    convert = std::min(convert, seconds_since(start));
  }
  std::printf("%.2f\n", (convert - copy) * 1e9 / lines);
  return 0;
}
