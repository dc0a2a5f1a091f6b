// Byte-level ZIP archives for every test that needs one: entries with any field value a test
// asks for (wrong sizes and CRCs, methods, descriptors, traditional encryption), and the one
// way the tests damage an archive.
#pragma once

#include "extract/zip_format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zipbuild {

uint32_t Crc32Of(const std::string& bytes);

struct Entry {
  std::string name, plain;          // plain: the content; its CRC-32 and size fill the header
  std::string extra;                // the extra field, in both headers
  std::optional<std::string> data;  // the data as stored; plain unless set
  uint16_t method = 0, flags = 0, time = 0x6000, date = 0x5821;  // 2024-01-01 12:00:00
  int64_t crc = -1, compressedSize = -1, uncompressedSize = -1;  // -1: the true value
  std::optional<std::string> password;  // encrypts the data (flag bit 0) when set
  int checkByte = -1;                   // the encryption header's check byte; -1: the right one
  int descriptor = 0;                   // 0 none, 12 without signature, 16 with signature

  // Sizes sets the local header's compressed (c) and uncompressed (u) sizes; Encrypted sets the
  // password and the check byte (c).
  Entry& Data(std::string bytes) { return data = std::move(bytes), *this; }
  Entry& Method(uint16_t m) { return method = m, *this; }
  Entry& Crc(int64_t value) { return crc = value, *this; }
  Entry& Sizes(int64_t c, int64_t u) { return compressedSize = c, uncompressedSize = u, *this; }
  Entry& Streamed(int size) { return flags |= zip::kFlagDescriptor, descriptor = size, *this; }
  Entry& Encrypted(std::string pw, int c = -1) { return password = pw, checkByte = c, *this; }
  Entry& Stamp(uint16_t d, uint16_t t) { return date = d, time = t, *this; }
};

Entry Stored(std::string name, std::string plain);

// One local record (header, name, encryption header and data, descriptor); an end record;
// a whole archive of local records, central directory and end record.
std::string LocalRecord(const Entry& entry);
std::string EndRecord(uint16_t entries, uint32_t centralSize, uint32_t centralOffset);
std::string Archive(const std::vector<Entry>& entries);

// A sparse archive past 2 GiB: a stored entry "big.bin" of bigSize bytes (the hole of the
// file), junk bytes, the stored entry "small.txt" holding "hello", and the end record.
std::string WriteSparseArchive(const std::string& path, uint32_t bigSize,
                               const std::string& junk = "JUNK!");

// The damage: the little-endian field at `at` XORed with mask (as many bytes as the mask has).
std::string Damage(std::string bytes, size_t at, uint32_t mask);

}  // namespace zipbuild
