// Message texts fetched from the string table by number, joined across "!"-marked chains,
// and message boxes captioned with the setup title.
#pragma once

#include "platform/platform.h"

// String numbers, named after their use; the texts live in res/strings.rc only.
enum MessageId : unsigned {
  MSG_CANNOT_CREATE_FOLDER = 1004,
  MSG_CONFIRM_CANCEL = 1005,
  MSG_NOT_INSTALLED = 1006,
  MSG_MISSING_FILE = 1013,
  MSG_SAME_FOLDER = 1016,
  MSG_CANNOT_OPEN_FOR_WRITING = 1018,
  MSG_ERROR_WRITING = 1019,
  MSG_TITLE = 1021,
  MSG_ALREADY_RUNNING = 1022,
  MSG_TIME_STAMP_MISMATCH = 1023,
  MSG_INVALID_DESTINATION = 1024,
  MSG_ACTION_INSTALLING = 1026,
  MSG_SHELL_EXTENSION_WAIT = 1029,
  MSG_CANNOT_CREATE_OUTPUT = 1030,
  MSG_CANNOT_OPEN_INPUT = 1031,
  MSG_UNKNOWN_COMPRESSION = 1032,
  MSG_BAD_CRC = 1033,
  MSG_INVALID_HEADER = 1034,
  MSG_INSUFFICIENT_MEMORY = 1035,
  MSG_DISK_FULL = 1036,
  MSG_BAD_DISK = 1037,
  MSG_SHELL_EXTENSION_BUSY = 1039,
  MSG_FILE_MANAGER_BUSY = 1044,
  MSG_SHELL_EXTENSION_OFF = 1046,
  // Refusals of the extraction engine for names and entries it cannot extract safely.
  MSG_NAME_TOO_LONG = 1060,
  MSG_PATH_TOO_LONG = 1061,
  MSG_UNSAFE_NAME = 1062,
  MSG_SHORT_ENCRYPTED_ENTRY = 1063,
  MSG_STREAMED_ENTRY = 1064,
  MSG_BAD_COMPRESSED_DATA = 1065,
  MSG_SETUP_RUNNING = 1066,  // a second setup started while one runs
  MSG_BEYOND_4GIB = 1067,
  MSG_NAME_NOT_IN_CODE_PAGE = 1068,
};

constexpr int kMessageTextLimit = 512;   // joined length of a chain
constexpr int kMessageBufferSize = 520;  // each of the three rotating result buffers
constexpr int kMessagePieceSize = 514;   // one string-table entry
constexpr int kShowMessageFormatSize = 512;
constexpr int kShowMessageOutputSize = 516;

// Joined text of entry id and the entries its "!" marks chain to. The result is one of three
// buffers used in turn, valid until three further calls. Never fails towards the caller:
// a missing or overlong piece shows an internal-error box and the text so far is returned.
const char* LoadMessageText(unsigned id);

// Formats entry id (one entry, no chaining) with the arguments and shows it in a box captioned
// with the setup title; the expansion is cut to its 516-byte buffer. Returns the box's answer.
int ShowMessage(platform::WindowHandle owner, unsigned id, unsigned flags, ...);
