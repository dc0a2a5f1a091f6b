// Writes ZIP records field by field, so that each test states exactly what lies on disk.
#include "tests/extract/zip_builder.h"

#include <fstream>

namespace zipbuild {

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  crc ^= byte;
  for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  return crc;
}

struct Keys {
  uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  void Update(uint8_t p) {
    k0 = CrcStep(k0, p);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcStep(k2, static_cast<uint8_t>(k1 >> 24));
  }
  uint8_t Stream() const {
    const uint16_t t = static_cast<uint16_t>(k2 | 2);
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
};

uint32_t CrcField(const Entry& e) {
  return e.crc >= 0 ? static_cast<uint32_t>(e.crc) : Crc32Of(e.plain);
}

std::string Payload(const Entry& e) {
  const std::string& data = e.hasData ? e.data : e.plain;
  if (e.password.empty() && !e.encrypt) return data;
  std::string header = "0123456789A";
  const uint32_t crc = CrcField(e);
  const int check = e.checkByte >= 0 ? e.checkByte
                    : (e.flags & 8)  ? (e.time >> 8)
                                     : static_cast<int>(crc >> 24);
  header += static_cast<char>(check);
  return Encrypt(e.password, header, data);
}

uint16_t Flags(const Entry& e) {
  return static_cast<uint16_t>(e.flags | ((!e.password.empty() || e.encrypt) ? 1 : 0));
}

}  // namespace

uint32_t Crc32Of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) crc = CrcStep(crc, c);
  return ~crc;
}

Entry Stored(std::string name, std::string plain) {
  Entry e;
  e.name = std::move(name);
  e.plain = std::move(plain);
  return e;
}

std::string Encrypt(const std::string& password, const std::string& header12,
                    const std::string& data) {
  Keys keys;
  for (unsigned char c : password) keys.Update(c);
  std::string out;
  for (const std::string* part : {&header12, &data}) {
    for (unsigned char p : *part) {
      out += static_cast<char>(p ^ keys.Stream());
      keys.Update(p);
    }
  }
  return out;
}

std::string LocalRecord(const Entry& e) {
  const std::string payload = Payload(e);
  const std::string& name = e.nameOverride.empty() ? e.name : e.nameOverride;
  std::string out;
  Put32(out, 0x04034b50);
  Put16(out, 20);
  Put16(out, Flags(e));
  Put16(out, e.method);
  Put16(out, e.time);
  Put16(out, e.date);
  Put32(out, CrcField(e));
  Put32(out, e.compressedSize >= 0 ? static_cast<uint32_t>(e.compressedSize)
                                   : static_cast<uint32_t>(payload.size()));
  Put32(out, e.uncompressedSize >= 0 ? static_cast<uint32_t>(e.uncompressedSize)
                                     : static_cast<uint32_t>(e.plain.size()));
  Put16(out, static_cast<uint32_t>(name.size()));
  Put16(out, static_cast<uint32_t>(e.extra.size()));
  out += name + e.extra + payload;
  if (e.descriptor == 16) Put32(out, 0x08074b50);
  if (e.descriptor) {
    Put32(out, Crc32Of(e.plain));
    Put32(out, static_cast<uint32_t>(payload.size()));
    Put32(out, static_cast<uint32_t>(e.plain.size()));
  }
  return out;
}

std::string CentralRecord(const Entry& e, uint32_t localOffset) {
  const std::string payload = Payload(e);
  std::string out;
  Put32(out, 0x02014b50);
  Put16(out, 20);
  Put16(out, 20);
  Put16(out, Flags(e));
  Put16(out, e.method);
  Put16(out, e.time);
  Put16(out, e.date);
  Put32(out, Crc32Of(e.plain));
  Put32(out, static_cast<uint32_t>(payload.size()));
  Put32(out, static_cast<uint32_t>(e.plain.size()));
  Put16(out, static_cast<uint32_t>(e.name.size()));
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, localOffset);
  out += e.name;
  return out;
}

std::string EndRecord(uint16_t entries, uint32_t centralSize, uint32_t centralOffset,
                      const std::string& comment) {
  std::string out;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, entries);
  Put16(out, entries);
  Put32(out, centralSize);
  Put32(out, centralOffset);
  Put16(out, static_cast<uint32_t>(comment.size()));
  return out + comment;
}

std::string WriteSparseArchive(const std::string& path, uint32_t bigSize) {
  Entry big = Stored("big.bin", "");
  big.compressedSize = big.uncompressedSize = bigSize;
  big.crc = 0;
  std::ofstream out(path, std::ios::binary);
  out << LocalRecord(big);
  out.seekp(static_cast<std::streamoff>(out.tellp()) + bigSize);
  out << "JUNK!" << LocalRecord(Stored("small.txt", "hello")) << EndRecord(2, 0, 0);
  return path;
}

std::string Archive(const std::vector<Entry>& entries) {
  std::string locals, central;
  for (const Entry& e : entries) {
    central += CentralRecord(e, static_cast<uint32_t>(locals.size()));
    locals += LocalRecord(e);
  }
  return locals + central +
         EndRecord(static_cast<uint16_t>(entries.size()), static_cast<uint32_t>(central.size()),
                   static_cast<uint32_t>(locals.size()));
}

std::string DeflateStoredBlocks(const std::string& plain) {
  std::string out;
  size_t at = 0;
  do {
    const size_t piece = plain.size() - at < 65535 ? plain.size() - at : 65535;
    const bool last = at + piece == plain.size();
    out += static_cast<char>(last ? 1 : 0);  // BFINAL, BTYPE 00, then byte alignment
    Put16(out, static_cast<uint32_t>(piece));
    Put16(out, static_cast<uint32_t>(~piece & 0xFFFF));
    out += plain.substr(at, piece);
    at += piece;
  } while (at < plain.size());
  return out;
}

}  // namespace zipbuild
