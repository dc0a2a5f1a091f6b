// The ZIP record walk: local entries, central directory and end record read in file order,
// unrecognised bytes passed over by a signature scan, and each taken entry written to its
// output file with its stored time stamp and checked against its CRC-32.
#pragma once

#include "extract/decrypt.h"
#include "extract/zip_format.h"

#include <cstdint>

// Reads records from the archive's current position until the end record; every other end
// of the walk is an abort.
void WalkRecords();

// Moves the position to the next known signature after unrecognised bytes; false if none.
bool ResyncToSignature();

// The part of path after its last backslash or slash (never its first character), or path.
const char* BaseName(const char* path);

// Copies path into out (capacity bytes) with the file-name part converted from the OEM to the
// ANSI character set; false when the converted path does not fit.
bool OemNameToAnsi(const char* path, char* out, unsigned capacity);

// 0 when the entry's 12-byte header, decrypted with ArchivePassword, ends in the check byte
// the current entry calls for (the keys are then ready for its data), -1 otherwise.
int TestPassword(const uint8_t header[kEncryptionHeaderSize]);

// True when name, appended below an output folder, stays inside it: not empty, not absolute,
// no drive letter, no parent-folder component.
bool IsSafeRelativeName(const char* name);
