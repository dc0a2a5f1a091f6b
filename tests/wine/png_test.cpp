// The screenshot encoder checked against zlib's decoder used as a black box: the Deflate
// stream of varied inputs inflates back to the input, and a PNG's chunks carry the pixels.
#include "tests/wine/harness/png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace {

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& raw, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  z_stream z = {};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(status, Z_STREAM_END);
  return out;
}

TEST(DeflateFixed, InflatesBackToTheInput) {
  std::mt19937 random(7);
  struct Case {
    std::string name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases = {{"empty", {}}, {"one byte", {42}}, {"two bytes", {1, 2}}};
  cases.push_back({"long run", std::vector<uint8_t>(100000, 0xC0)});
  std::vector<uint8_t> noise(70000);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  cases.push_back({"noise", noise});
  std::vector<uint8_t> rows;  // a screen-like picture: repeated rows with a few changes
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 900; ++x) rows.push_back(static_cast<uint8_t>((x / 37 + y / 50) * 40));
  cases.push_back({"screen-like rows", rows});
  std::vector<uint8_t> far;  // repeats just inside and beyond the 32 KiB window
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 32768; ++k) far.push_back(static_cast<uint8_t>((k * 2654435761u) >> 24));
  cases.push_back({"window-distance repeats", far});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto deflated = harness::DeflateFixed(c.data);
    EXPECT_EQ(Inflate(deflated, c.data.size()), c.data);
  }
}

TEST(DeflateFixed, FlatPictureShrinks) {
  const std::vector<uint8_t> flat(1024 * 768 * 3, 0xD4);
  EXPECT_LT(harness::DeflateFixed(flat).size(), flat.size() / 50);
}

TEST(EncodePng, ChunksCarryTheHeaderAndThePixels) {
  const int width = 3, height = 2;
  const std::vector<uint32_t> pixels = {0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0xFFFFFF, 0x000000};
  const auto png = harness::EncodePng(width, height, pixels);
  ASSERT_GT(png.size(), 8u + 25 + 12 + 12);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  // IHDR right after the signature: 13 bytes of width, height, depth 8, colour type 2.
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(png[19], width);
  EXPECT_EQ(png[23], height);
  EXPECT_EQ(png[24], 8);
  EXPECT_EQ(png[25], 2);
  // Each chunk's CRC covers its type and data.
  size_t at = 8;
  std::vector<uint8_t> idat;
  std::vector<std::string> types;
  while (at + 12 <= png.size()) {
    const uint32_t length =
        (png[at] << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    types.push_back(type);
    const uint32_t stored = (png[at + 8 + length] << 24) | (png[at + 9 + length] << 16) |
                            (png[at + 10 + length] << 8) | png[at + 11 + length];
    EXPECT_EQ(stored, crc32(0, png.data() + at + 4, length + 4)) << type;
    if (type == "IDAT") idat.assign(png.begin() + at + 8, png.begin() + at + 8 + length);
    at += 12 + length;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(at, png.size());
  // The zlib stream holds each row as filter 0 and R, G, B bytes.
  std::vector<uint8_t> raw(64);
  uLongf rawSize = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &rawSize, idat.data(), idat.size()), Z_OK);
  raw.resize(rawSize);
  EXPECT_EQ(raw, (std::vector<uint8_t>{0, 0xFF, 0,    0,    0,    0xFF, 0,    0, 0, 0xFF,
                                       0, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
}

}  // namespace
