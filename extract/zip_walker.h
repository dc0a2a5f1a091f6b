// The ZIP record walk: local entries, central directory and end record read in file order,
// unrecognised bytes passed over by a signature scan, and each taken entry written to its
// output file with its stored time stamp and checked against its CRC-32.
#pragma once

#include <cstdint>

constexpr uint32_t LOCAL_HEADER_SIG = 0x04034b50;
constexpr uint32_t CENTRAL_HEADER_SIG = 0x02014b50;
constexpr uint32_t END_RECORD_SIG = 0x06054b50;
constexpr uint32_t DESCRIPTOR_SIG = 0x08074b50;  // optional start of a data descriptor

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

// True when name, appended below an output folder, stays inside it: not empty, not absolute,
// no drive letter, no parent-folder component.
bool IsSafeRelativeName(const char* name);
