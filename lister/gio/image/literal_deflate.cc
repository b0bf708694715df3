#include "lister/gio/image/literal_deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace corvane::gio {
namespace {

// Bits out, each value's lowest bit first, as deflate packs them, into a
// buffer sized for the worst case beforehand with eight bytes to spare. A
// whole word goes out at a time, the bytes it completed kept: up to 56 bits
// may wait between flushes.
struct BitWriter {
  unsigned char* out;
  uint64_t bits = 0;
  int used = 0;

  // count at most 24, value below 2^count.
  void put(uint32_t value, int count) {
    bits |= uint64_t{value} << used;
    used += count;
    if (used >= 32) flush();
  }
  void flush() {
    std::memcpy(out, &bits, 8);  // little-endian: the lowest bits first
    out += used >> 3;
    bits >>= used & ~7;
    used &= 7;
  }
  // The end, padded to a whole byte.
  unsigned char* finish() {
    flush();
    if (used > 0) *out++ = static_cast<unsigned char>(bits);
    return out;
  }
};

constexpr size_t kMaxSymbols = 288;

// Code lengths of at most limit bits for the counts (at most kMaxSymbols),
// 0 for a symbol that does not occur. Two symbols at least get a code, the
// first unused ones standing in where fewer occur (they are never written):
// the code is then complete, which every decoder takes.
//
// The symbols sorted by count (then by symbol, so the same bytes always pack
// alike), Huffman's lengths computed in place over the sorted counts
// (Moffat and Katajainen), then any beyond the limit brought to it and the
// shorter ones lengthened until the code is complete again, as deflate
// encoders do.
std::vector<uint8_t> limitedLengths(const std::vector<uint32_t>& counts, int limit) {
  std::array<uint64_t, kMaxSymbols> keys;  // count above, symbol below
  size_t n = 0;
  uint32_t largest = 1;
  for (size_t s = 0; s < counts.size(); ++s) {
    keys[n] = uint64_t{counts[s]} << 16 | s;
    n += counts[s] != 0;
    largest = std::max(largest, counts[s]);
  }
  for (size_t s = 0; n < 2 && s < counts.size(); ++s)
    if (!counts[s]) keys[n++] = uint64_t{1} << 16 | s;
  // Sorted by count a byte at a time, least significant first: each pass
  // keeps the order of the one before, so equal counts stay in symbol order.
  // Without a branch to mispredict, unlike a comparison sort of these.
  std::array<uint64_t, kMaxSymbols> sorted;
  for (int shift = 16; shift < 48 && (uint64_t{largest} << 16) >> shift != 0; shift += 8) {
    std::array<uint32_t, 257> start{};
    for (size_t i = 0; i < n; ++i) ++start[((keys[i] >> shift) & 0xFF) + 1];
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (size_t i = 0; i < n; ++i) sorted[start[(keys[i] >> shift) & 0xFF]++] = keys[i];
    std::swap(keys, sorted);
  }

  // A[i]: the weight of the i-th lightest, then its parent, then its depth.
  std::array<uint64_t, kMaxSymbols> a;
  for (size_t i = 0; i < n; ++i) a[i] = keys[i] >> 16;
  a[0] += a[1];
  size_t root = 0, leaf = 2;
  for (size_t next = 1; next < n - 1; ++next) {
    if (leaf >= n || a[root] < a[leaf]) {
      a[next] = a[root];
      a[root++] = next;
    } else {
      a[next] = a[leaf++];
    }
    if (leaf >= n || (root < next && a[root] < a[leaf])) {
      a[next] += a[root];
      a[root++] = next;
    } else {
      a[next] += a[leaf++];
    }
  }
  a[n - 2] = 0;
  for (size_t next = n - 2; next-- > 0;) a[next] = a[a[next]] + 1;
  // Internal depths to leaf depths: how many leaves sit at each depth.
  std::array<uint32_t, 64> atDepth{};
  {
    long available = 1, used = 0, depth = 0, r = static_cast<long>(n) - 2;
    while (available > 0) {
      while (r >= 0 && a[static_cast<size_t>(r)] == static_cast<uint64_t>(depth)) ++used, --r;
      atDepth[static_cast<size_t>(std::min<long>(depth, 63))] += static_cast<uint32_t>(available - used);
      available = 2 * used;
      ++depth;
      used = 0;
    }
  }
  // Deeper than the limit: at the limit, then shorter codes split until the
  // lengths fill the code space exactly.
  for (size_t d = static_cast<size_t>(limit) + 1; d < atDepth.size(); ++d) atDepth[static_cast<size_t>(limit)] += std::exchange(atDepth[d], 0);
  uint64_t space = 0;
  for (int d = 1; d <= limit; ++d) space += uint64_t{atDepth[static_cast<size_t>(d)]} << (limit - d);
  while (space > (uint64_t{1} << limit)) {
    --atDepth[static_cast<size_t>(limit)];
    for (int d = limit - 1; d > 0; --d) {
      if (atDepth[static_cast<size_t>(d)]) {
        --atDepth[static_cast<size_t>(d)];
        atDepth[static_cast<size_t>(d) + 1] += 2;
        break;
      }
    }
    --space;
  }
  // The lightest get the longest.
  std::vector<uint8_t> lengths(counts.size(), 0);
  size_t i = 0;
  for (int d = limit; d > 0; --d)
    for (uint32_t k = 0; k < atDepth[static_cast<size_t>(d)]; ++k) lengths[keys[i++] & 0xFFFF] = static_cast<uint8_t>(d);
  return lengths;
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
  // Without a branch for the symbols without a code: theirs comes out 0.
  for (size_t s = 0; s < lengths.size(); ++s) {
    const int l = lengths[s];
    uint32_t c = next[static_cast<size_t>(l)]++;
    // Reversed in halves, then quarters, and so on, within 16 bits.
    c = (c & 0x5555) << 1 | (c >> 1 & 0x5555);
    c = (c & 0x3333) << 2 | (c >> 2 & 0x3333);
    c = (c & 0x0F0F) << 4 | (c >> 4 & 0x0F0F);
    c = (c & 0x00FF) << 8 | (c >> 8 & 0x00FF);
    codes[s] = static_cast<uint16_t>(c >> (16 - l));
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
  // Eight tables, so that a run of one value (the zeros of a filtered icon)
  // does not wait on its own count from byte to byte.
  uint32_t partial[8][256] = {};
  size_t i = 0;
  for (; i + 8 <= size; i += 8)
    for (size_t t = 0; t < 8; ++t) ++partial[t][bytes[i + t]];
  for (; i < size; ++i) ++partial[0][bytes[i]];
  std::vector<uint32_t> counts(kLiteralCodes, 0);
  for (size_t v = 0; v < 256; ++v)
    for (size_t t = 0; t < 8; ++t) counts[v] += partial[t][v];
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
  std::string out(2 + (size * 15 + 19 * 3 + 259 * 14 + 64) / 8 + 8 + 4 + 8, '\0');
  auto* begin = reinterpret_cast<unsigned char*>(out.data());
  begin[0] = 0x78;  // deflate, a 32 KiB window
  begin[1] = 0x01;  // the fastest level; the pair a multiple of 31
  BitWriter w{begin + 2};
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
  // Each byte's code and its length in one word; three codes of at most 15
  // bits fit beside the up to 7 bits waiting, before a flush. The writer is
  // copied to locals, which no store to the output can be taken to change.
  uint32_t table[256];
  for (size_t v = 0; v < 256; ++v) table[v] = uint32_t{codes[v]} | uint32_t{lengths[v]} << 16;
  {
    w.flush();
    BitWriter local = w;
    size_t k = 0;
    for (; k + 3 <= size; k += 3) {
      // The three codes joined first, then added to the waiting bits at
      // once: one step of the chain through them instead of three.
      const uint32_t e0 = table[bytes[k]], e1 = table[bytes[k + 1]], e2 = table[bytes[k + 2]];
      const uint32_t l0 = e0 >> 16, l1 = e1 >> 16;
      const uint64_t joined = uint64_t{e0 & 0xFFFF} | uint64_t{e1 & 0xFFFF} << l0 | uint64_t{e2 & 0xFFFF} << (l0 + l1);
      local.bits |= joined << local.used;
      local.used += static_cast<int>(l0 + l1 + (e2 >> 16));
      local.flush();
    }
    for (; k < size; ++k) local.put(codes[bytes[k]], lengths[bytes[k]]);
    w = local;
  }
  w.put(codes[kEndOfBlock], lengths[kEndOfBlock]);
  unsigned char* end = w.finish();
  const uint32_t check = libdeflate_adler32(1, bytes, size);
  for (int shift = 24; shift >= 0; shift -= 8) *end++ = static_cast<unsigned char>(check >> shift);
  out.resize(static_cast<size_t>(end - begin));
  return out;
}

}  // namespace corvane::gio
