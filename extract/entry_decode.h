// Decoding one entry's data: the step the walker takes for each entry it produces (and
// DecodeSingleEntry takes on its own), and the run's buffers around it.
#pragma once

#include "extract/engine.h"
#include "extract/inflate.h"
#include "extract/zip_format.h"

#include <cstdint>
#include <cstdlib>

// Allocates the window (zero-filled) and the two stream buffers; false when one cannot be had.
// Always inlined, like ReleaseRunBuffers: SETUP.EXE has one caller, and is kept small.
[[gnu::always_inline]] inline bool AcquireRunBuffers() {
  g_engine.window = static_cast<uint8_t*>(std::calloc(kWindowAllocation, 1));
  if (g_engine.window) {
    g_engine.inputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
    if (g_engine.inputBuffer)
      g_engine.outputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
  }
  return g_engine.window && g_engine.inputBuffer && g_engine.outputBuffer;
}

// Frees the buffers and the Huffman tables of a block the run was abandoned in.
[[gnu::always_inline]] inline void ReleaseRunBuffers() {
  ReleaseBlockTables();
  std::free(g_engine.window);
  g_engine.window = nullptr;
  std::free(g_engine.inputBuffer);
  g_engine.inputBuffer = nullptr;
  std::free(g_engine.outputBuffer);
  g_engine.outputBuffer = nullptr;
}

// Decodes the current entry's data (g_engine.entry: method 0 or 8, compressed size, encrypted
// with the keys in force) into the output stream and writes out what is left buffered. Returns
// the decoder's result, INFLATE_OK for stored data; damaged Deflate data ends it quietly.
int DecodeEntryData(const InflateOptions& options = {});
