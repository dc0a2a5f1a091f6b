// Byte-level ZIP archives for the engine's tests: local entries with any field value the
// tests need (wrong sizes, flags, methods, descriptors of 12 or 16 bytes, traditional
// encryption), central records and end record; and the test side's own encryptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipbuild {

uint32_t Crc32Of(const std::string& bytes);  // computed here, independently of the engine

struct Entry {
  std::string name;
  std::string plain;     // the entry's content; its CRC-32 and size fill the header
  std::string data;      // the stored data bytes (plain or compressed); defaults to plain
  bool hasData = false;  // data was set explicitly
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t time = 0x6000;         // 12:00:00
  uint16_t date = 0x5821;         // 2024-01-01
  int64_t crc = -1;               // -1: the CRC-32 of plain
  int64_t compressedSize = -1;    // -1: the size of the data written (header included)
  int64_t uncompressedSize = -1;  // -1: the size of plain
  std::string extra;
  std::string password;      // encrypts the data (flag bit 0 set) when not empty
  bool encrypt = false;      // encrypt even with an empty password
  int checkByte = -1;        // the encryption header's check byte; -1: the right one
  int descriptor = 0;        // 0 none, 12 without signature, 16 with signature
  std::string nameOverride;  // raw name bytes in the local header when not empty

  Entry& Data(std::string bytes) {
    data = std::move(bytes);
    hasData = true;
    return *this;
  }
};

Entry Stored(std::string name, std::string plain);

// The local record of an entry: header, name, extra field, (encryption header and) data,
// and its descriptor.
std::string LocalRecord(const Entry& entry);
std::string CentralRecord(const Entry& entry, uint32_t localOffset);
std::string EndRecord(uint16_t entries, uint32_t centralSize, uint32_t centralOffset,
                      const std::string& comment = "");

// A whole archive: the local records, the central directory and the end record.
std::string Archive(const std::vector<Entry>& entries);

// A sparse archive past 2 GiB: a stored entry "big.bin" of bigSize bytes (the hole of the
// file), five junk bytes, the stored entry "small.txt" holding "hello", and the end record.
std::string WriteSparseArchive(const std::string& path, uint32_t bigSize);

// Traditional ZIP encryption of header and data, as the ZIP application note describes it.
std::string Encrypt(const std::string& password, const std::string& header12,
                    const std::string& data);

// Raw Deflate data with only stored blocks, for engine tests that need method 8 without a
// compressor.
std::string DeflateStoredBlocks(const std::string& plain);

}  // namespace zipbuild
