// Message texts: chained loading into three rotating buffers, and the titled message box.
#include "ui/messages.h"

#include "setup/state.h"

#include <cstring>

namespace {

struct MessageTextState {
  char buffers[3][kMessageBufferSize] = {};
  int rotation = 0;
};
MessageTextState g_texts;

void ShowInternalError(const char* format, unsigned id) {
  char text[80];
  platform::FormatText(text, sizeof text, format, static_cast<int>(id));
  platform::ShowMessageBox(nullptr, text, nullptr, platform::mb::kIconError);
}

}  // namespace

const char* LoadMessageText(unsigned id) {
  char* result = g_texts.buffers[g_texts.rotation];
  g_texts.rotation = (g_texts.rotation + 1) % 3;
  result[0] = '\0';
  size_t length = 0;   // characters in the result
  size_t counted = 0;  // the pieces so far, each counted with its mark
  char piece[kMessagePieceSize];
  for (;;) {
    const int pieceLength =
        platform::LoadStringResource(g_setup.instance, id, piece, kMessagePieceSize);
    if (pieceLength <= 0) {
      ShowInternalError("Internal error: string resource not found: %d", id);
      return result;
    }
    const size_t pieceSize = std::strlen(piece);
    if (counted + pieceSize > kMessageTextLimit) {
      ShowInternalError("Internal error: string resource too long: %d", id);
      return result;
    }
    if (piece[0] != '!') {
      std::memcpy(result + length, piece, pieceSize + 1);
      return result;
    }
    std::memcpy(result + length, piece + 1, pieceSize);  // drops the mark, keeps the NUL
    length += pieceSize - 1;
    counted += pieceSize;
    ++id;
  }
}

int ShowMessage(platform::WindowHandle owner, unsigned id, unsigned flags, ...) {
  char format[kShowMessageFormatSize];
  if (platform::LoadStringResource(g_setup.instance, id, format, sizeof format) <= 0)
    format[0] = '\0';
  char text[kShowMessageOutputSize];
  va_list args;
  va_start(args, flags);
  platform::FormatTextV(text, sizeof text, format, args);
  va_end(args);
  return platform::ShowMessageBox(owner, text, g_setup.title, flags);
}
