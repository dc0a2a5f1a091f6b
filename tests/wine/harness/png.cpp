// PNG encoding for screenshots. The compressor writes one final Deflate block with the fixed
// Huffman codes of RFC 1951 section 3.2.6 and finds repeats with a hash of three bytes; flat
// window areas shrink to a few percent of their raw size, which is all screenshots need.
#include "tests/wine/harness/png.h"

#include <array>
#include <cstring>

namespace harness {

namespace {

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Bits(uint32_t value, int count) {  // least significant bit first
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {  // Huffman codes go most significant bit first
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void Flush() {
    if (used_) out_.push_back(static_cast<uint8_t>(acc_));
    acc_ = used_ = 0;
  }

 private:
  void Bit(uint32_t bit) {
    acc_ |= bit << used_;
    if (++used_ == 8) Flush();
  }
  std::vector<uint8_t>& out_;
  uint32_t acc_ = 0;
  int used_ = 0;
};

// Fixed literal/length code (RFC 1951, 3.2.6).
void Symbol(BitWriter& w, int symbol) {
  if (symbol < 144)
    w.Code(0x30 + symbol, 8);
  else if (symbol < 256)
    w.Code(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + symbol - 280, 8);
}

// Length codes 257..285 and distance codes 0..29: base values and extra bits (RFC 1951, 3.2.5).
constexpr std::array<int, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Match(BitWriter& w, int length, int distance) {
  int code = 28;
  while (kLengthBase[code] > length) --code;
  Symbol(w, 257 + code);
  w.Bits(length - kLengthBase[code], kLengthExtra[code]);
  int dcode = 29;
  while (kDistanceBase[dcode] > distance) --dcode;
  w.Code(dcode, 5);
  w.Bits(distance - kDistanceBase[dcode], kDistanceExtra[dcode]);
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<uint8_t> DeflateFixed(const std::vector<uint8_t>& data) {
  constexpr int kWindow = 32768, kMaxLength = 258, kHashBits = 15, kChain = 32;
  std::vector<uint8_t> out;
  BitWriter w(out);
  w.Bits(1, 1);  // final block
  w.Bits(1, 2);  // fixed Huffman codes
  std::vector<int> head(1 << kHashBits, -1), previous(data.size(), -1);
  const auto hash = [&](size_t i) {
    return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & ((1 << kHashBits) - 1);
  };
  const auto insert = [&](size_t i) {
    if (i + 2 >= data.size()) return;
    const int h = hash(i);
    previous[i] = head[h];
    head[h] = static_cast<int>(i);
  };
  size_t i = 0;
  while (i < data.size()) {
    int bestLength = 0, bestDistance = 0;
    if (i + 2 < data.size()) {
      int candidate = head[hash(i)];
      for (int tries = 0; candidate >= 0 && tries < kChain; ++tries) {
        const int distance = static_cast<int>(i) - candidate;
        if (distance > kWindow) break;
        int length = 0;
        const int limit = static_cast<int>(std::min<size_t>(kMaxLength, data.size() - i));
        while (length < limit && data[candidate + length] == data[i + length]) ++length;
        if (length > bestLength) bestLength = length, bestDistance = distance;
        if (length == kMaxLength) break;
        candidate = previous[candidate];
      }
    }
    if (bestLength >= 3) {
      Match(w, bestLength, bestDistance);
      for (int k = 0; k < bestLength; ++k) insert(i + k);
      i += bestLength;
    } else {
      Symbol(w, data[i]);
      insert(i);
      ++i;
    }
  }
  Symbol(w, 256);
  w.Flush();
  return out;
}

std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint32_t>& rgb) {
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (1 + 3 * width));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rgb[static_cast<size_t>(y) * width + x];
      raw.push_back(c & 0xFF);
      raw.push_back((c >> 8) & 0xFF);
      raw.push_back((c >> 16) & 0xFF);
    }
  }
  std::vector<uint8_t> zlib = {0x78, 0x01};
  const std::vector<uint8_t> deflated = DeflateFixed(raw);
  zlib.insert(zlib.end(), deflated.begin(), deflated.end());
  uint32_t a = 1, b = 0;  // Adler-32 of the raw data
  for (uint8_t byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
  Put32(zlib, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(header, static_cast<uint32_t>(width));
  Put32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace harness
