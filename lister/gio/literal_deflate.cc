#include "lister/gio/literal_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace corvane::gio {
namespace {

// Bits out, each value's lowest bit first, as deflate packs them, into a
// buffer sized for the worst case beforehand.
class BitWriter {
 public:
  explicit BitWriter(unsigned char* out) : out_(out) {}
  // count at most 24, value below 2^count.
  void put(uint32_t value, int count) {
    bits_ |= uint64_t{value} << used_;
    used_ += count;
    if (used_ >= 32) {
      for (int i = 0; i < 4; ++i) *out_++ = static_cast<unsigned char>(bits_ >> (8 * i));
      bits_ >>= 32;
      used_ -= 32;
    }
  }
  // The end, padded to a whole byte.
  unsigned char* finish() {
    for (; used_ > 0; used_ -= 8, bits_ >>= 8) *out_++ = static_cast<unsigned char>(bits_);
    return out_;
  }

 private:
  unsigned char* out_;
  uint64_t bits_ = 0;
  int used_ = 0;
};

// Huffman's code lengths for the counts, of which two at least are not 0: 0
// for a symbol that does not occur.
// The leaves sorted once, the joined nodes come out of a second queue in the
// order they are made, so each step takes the two lightest from the fronts;
// ties go to the leaves and then to symbol order, so the same bytes always
// pack alike.
std::vector<uint8_t> huffmanLengths(const std::vector<uint32_t>& counts) {
  std::vector<uint8_t> lengths(counts.size(), 0);
  std::vector<std::pair<uint32_t, uint16_t>> leaves;  // count, symbol
  for (size_t s = 0; s < counts.size(); ++s)
    if (counts[s]) leaves.emplace_back(counts[s], static_cast<uint16_t>(s));
  std::sort(leaves.begin(), leaves.end());
  const size_t n = leaves.size();
  // Nodes 0..n-1 are the leaves, n.. the joined ones; each node's parent.
  std::vector<uint64_t> weight(2 * n - 1);
  std::vector<uint32_t> parent(2 * n - 1, 0);
  for (size_t i = 0; i < n; ++i) weight[i] = leaves[i].first;
  size_t leaf = 0, joined = n;
  const auto lightest = [&](size_t made) {
    if (leaf < n && (joined == made || weight[leaf] <= weight[joined])) return leaf++;
    return joined++;
  };
  for (size_t made = n; made < 2 * n - 1; ++made) {
    const size_t a = lightest(made), b = lightest(made);
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<uint32_t>(made);
  }
  // Made after their children: depths from the root down.
  std::vector<uint8_t> depth(2 * n - 1, 0);
  for (size_t i = 2 * n - 2; i-- > 0;) depth[i] = static_cast<uint8_t>(std::min(depth[parent[i]] + 1, 255));
  for (size_t i = 0; i < n; ++i) lengths[leaves[i].second] = depth[i];
  return lengths;
}

// Code lengths of at most limit bits. Two symbols at least get a code, the
// first unused ones standing in where fewer occur (they are never written):
// the code is then complete, which every decoder takes. Counts are halved
// (never to zero) until the longest code fits; all counts equal give a
// balanced code, which fits any limit the alphabets here meet.
std::vector<uint8_t> limitedLengths(std::vector<uint32_t> counts, int limit) {
  size_t used = counts.size() - static_cast<size_t>(std::count(counts.begin(), counts.end(), 0u));
  for (size_t s = 0; used < 2 && s < counts.size(); ++s) {
    if (counts[s] == 0) {
      counts[s] = 1;
      ++used;
    }
  }
  for (;;) {
    std::vector<uint8_t> lengths = huffmanLengths(counts);
    if (*std::max_element(lengths.begin(), lengths.end()) <= limit) return lengths;
    for (uint32_t& c : counts)
      if (c) c = (c + 1) / 2;
  }
}

// Codes of the canonical Huffman code for the lengths, bit-reversed for the
// writer.
std::vector<uint16_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  std::array<uint16_t, 16> count{}, next{};
  for (uint8_t l : lengths)
    if (l) ++count[l];
  uint16_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = static_cast<uint16_t>((code + count[static_cast<size_t>(bits - 1)]) << 1);
    next[static_cast<size_t>(bits)] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s) {
    const int l = lengths[s];
    if (!l) continue;
    const uint16_t c = next[static_cast<size_t>(l)]++;
    uint16_t reversed = 0;
    for (int i = 0; i < l; ++i) reversed = static_cast<uint16_t>(reversed | (((c >> i) & 1) << (l - 1 - i)));
    codes[s] = reversed;
  }
  return codes;
}

// Both alphabets' code lengths as the code-length alphabet writes them: a
// length, or a run (16 repeats the last length 3 to 6 times, 17 and 18 write
// 3 to 10 and 11 to 138 zeros), each with its extra bits.
struct LengthSymbol {
  uint8_t symbol, extra;
};
std::vector<LengthSymbol> runsOf(const std::vector<uint8_t>& lengths) {
  std::vector<LengthSymbol> out;
  for (size_t i = 0; i < lengths.size();) {
    const uint8_t l = lengths[i];
    size_t run = 1;
    while (i + run < lengths.size() && lengths[i + run] == l) ++run;
    i += run;
    if (l == 0) {
      for (; run >= 11; run -= std::min<size_t>(run, 138)) out.push_back({18, static_cast<uint8_t>(std::min<size_t>(run, 138) - 11)});
      if (run >= 3) {
        out.push_back({17, static_cast<uint8_t>(run - 3)});
        run = 0;
      }
    } else {
      out.push_back({l, 0});
      --run;
      for (; run >= 3; run -= std::min<size_t>(run, 6)) out.push_back({16, static_cast<uint8_t>(std::min<size_t>(run, 6) - 3)});
    }
    for (; run > 0; --run) out.push_back({l, 0});
  }
  return out;
}

constexpr int kEndOfBlock = 256;
constexpr size_t kLiteralCodes = 257;  // the bytes and the end of the block
// Where each code-length code's own length is written in the header.
constexpr std::array<uint8_t, 19> kLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

}  // namespace

std::string literalZlib(const unsigned char* bytes, size_t size) {
  std::vector<uint32_t> counts(kLiteralCodes, 0);
  for (size_t i = 0; i < size; ++i) ++counts[bytes[i]];
  counts[kEndOfBlock] = 1;
  const std::vector<uint8_t> lengths = limitedLengths(counts, 15);
  const std::vector<uint16_t> codes = canonicalCodes(lengths);

  // No matches, so no distance codes are used; two of one bit make a
  // complete code, as every decoder expects one.
  std::vector<uint8_t> all = lengths;
  all.push_back(1);
  all.push_back(1);
  const std::vector<LengthSymbol> runs = runsOf(all);
  std::vector<uint32_t> runCounts(19, 0);
  for (const LengthSymbol& r : runs) ++runCounts[r.symbol];
  const std::vector<uint8_t> runLengths = limitedLengths(runCounts, 7);
  const std::vector<uint16_t> runCodes = canonicalCodes(runLengths);
  size_t lengthCodes = 19;
  while (lengthCodes > 4 && runLengths[kLengthOrder[lengthCodes - 1]] == 0) --lengthCodes;

  // Codes of at most 15 bits a byte, the header's at most 7 bits for each
  // of 19 + 259 lengths, the two-byte zlib header, the four of the check.
  std::string out(2 + (size * 15 + 19 * 3 + 259 * 14 + 64) / 8 + 8 + 4, '\0');
  auto* begin = reinterpret_cast<unsigned char*>(out.data());
  begin[0] = 0x78;  // deflate, a 32 KiB window
  begin[1] = 0x01;  // the fastest level; the pair a multiple of 31
  BitWriter w(begin + 2);
  w.put(1, 1);  // the final block
  w.put(2, 2);  // with dynamic codes
  w.put(static_cast<uint32_t>(kLiteralCodes - 257), 5);
  w.put(2 - 1, 5);
  w.put(static_cast<uint32_t>(lengthCodes - 4), 4);
  for (size_t i = 0; i < lengthCodes; ++i) w.put(runLengths[kLengthOrder[i]], 3);
  for (const LengthSymbol& r : runs) {
    w.put(runCodes[r.symbol], runLengths[r.symbol]);
    if (r.symbol == 16) w.put(r.extra, 2);
    if (r.symbol == 17) w.put(r.extra, 3);
    if (r.symbol == 18) w.put(r.extra, 7);
  }
  for (size_t i = 0; i < size; ++i) w.put(codes[bytes[i]], lengths[bytes[i]]);
  w.put(codes[kEndOfBlock], lengths[kEndOfBlock]);
  unsigned char* end = w.finish();
  const auto check = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), bytes, static_cast<uInt>(size)));
  for (int shift = 24; shift >= 0; shift -= 8) *end++ = static_cast<unsigned char>(check >> shift);
  out.resize(static_cast<size_t>(end - begin));
  return out;
}

}  // namespace corvane::gio
