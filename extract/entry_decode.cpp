// One entry's data through the streams and the decoder, and the run's buffers around it.
#include "extract/entry_decode.h"

#include "extract/stream.h"
#include "ui/messages.h"

int DecodeEntryData(const InflateOptions& options) {
  int decoded = INFLATE_OK;
  ResetStreams();
  if (g_engine.entry.method == zip::kMethodDeflated) {
    decoded = InflateEntry(options);
  } else {
    // Stored: the bytes are copied unchanged, a whole input chunk at a time, the same reads
    // and the same writes, at the same points, as a copy byte by byte.
    while (g_stream.inputCount > 0 || FillInputBuffer() > 0) {
      DecryptAhead(static_cast<unsigned>(g_stream.inputCount));
      AppendOutput(g_stream.inputPosition, static_cast<unsigned>(g_stream.inputCount));
      g_stream.inputPosition += g_stream.inputCount;
      g_stream.inputCount = 0;
    }
  }
  if (g_stream.outputCount > 0) FlushOutputBuffer();
  return decoded;
}
