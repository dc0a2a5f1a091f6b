// Writes ZIP records field by field, so that each test states exactly what lies on disk.
#include "tests/extract/zip_builder.h"

#include <fstream>

namespace zipbuild {

namespace {

// A little-endian field of two or four bytes.
std::string Le(uint32_t value, int bytes) {
  std::string out;
  bytes == 2 ? zip::AppendLe16(out, static_cast<uint16_t>(value)) : zip::AppendLe32(out, value);
  return out;
}

uint32_t CrcField(const Entry& e) { return e.crc >= 0 ? uint32_t(e.crc) : Crc32Of(e.plain); }

std::string Payload(const Entry& e) {
  const std::string& data = e.data ? *e.data : e.plain;
  if (!e.password) return data;
  // Traditional ZIP encryption of a 12-byte header, whose last byte is checked, and the data.
  const int check = e.checkByte >= 0 ? e.checkByte : e.flags & 8 ? e.time >> 8 : CrcField(e) >> 24;
  zip::CryptKeys keys = zip::KeysForPassword(e.password->c_str());
  std::string out;
  for (unsigned char p : "0123456789A" + std::string(1, char(check)) + data)
    out += static_cast<char>(zip::EncryptByte(keys, p));
  return out;
}

// The fields from the version needed to the extra length, as local and central headers share
// them; the central ones always hold the true CRC and sizes.
std::string Fields(const Entry& e, const std::string& payload, bool local) {
  const uint16_t flags = e.flags | (e.password ? zip::kFlagEncrypted : 0);
  return Le(20, 2) + Le(flags, 2) + Le(e.method, 2) + Le(e.time, 2) + Le(e.date, 2) +
         Le(local ? CrcField(e) : Crc32Of(e.plain), 4) +
         Le(local && e.compressedSize >= 0 ? uint32_t(e.compressedSize) : payload.size(), 4) +
         Le(local && e.uncompressedSize >= 0 ? uint32_t(e.uncompressedSize) : e.plain.size(), 4) +
         Le(e.name.size(), 2) + Le(e.extra.size(), 2);
}

}  // namespace

// Bit by bit, as the CRC-32 is defined: independent of the engine's tables.
uint32_t Crc32Of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

Entry Stored(std::string name, std::string plain) {
  Entry e;
  e.name = std::move(name);
  e.plain = std::move(plain);
  return e;
}

std::string LocalRecord(const Entry& e) {
  const std::string payload = Payload(e);
  return Le(LOCAL_HEADER_SIG, 4) + Fields(e, payload, true) + e.name + e.extra + payload +
         (e.descriptor == zip::descriptor::kSizeWithSignature ? Le(DESCRIPTOR_SIG, 4) : "") +
         (e.descriptor ? Le(Crc32Of(e.plain), 4) + Le(payload.size(), 4) + Le(e.plain.size(), 4)
                       : "");
}

std::string EndRecord(uint16_t entries, uint32_t centralSize, uint32_t centralOffset) {
  return Le(END_RECORD_SIG, 4) + Le(0, 4) + Le(entries, 2) + Le(entries, 2) + Le(centralSize, 4) +
         Le(centralOffset, 4) + Le(0, 2);  // no disk numbers, no comment
}

std::string WriteSparseArchive(const std::string& path, uint32_t bigSize, const std::string& junk) {
  Entry big = Stored("big.bin", "").Crc(0).Sizes(bigSize, bigSize);
  std::ofstream out(path, std::ios::binary);
  out << LocalRecord(big);
  out.seekp(static_cast<std::streamoff>(out.tellp()) + bigSize);
  out << junk << LocalRecord(Stored("small.txt", "hello")) << EndRecord(2, 0, 0);
  return path;
}

std::string Archive(const std::vector<Entry>& entries) {
  std::string locals, central;
  for (const Entry& e : entries) {
    // comment length, disk, attributes: 10 zero bytes
    central += Le(CENTRAL_HEADER_SIG, 4) + Le(20, 2) + Fields(e, Payload(e), false) +
               std::string(10, '\0') + Le(locals.size(), 4) + e.name + e.extra;
    locals += LocalRecord(e);
  }
  return locals + central + EndRecord(entries.size(), central.size(), locals.size());
}

std::string Damage(std::string bytes, size_t at, uint32_t mask) {
  for (; mask; mask >>= 8) bytes[at++] ^= static_cast<char>(mask);
  return bytes;
}

}  // namespace zipbuild
