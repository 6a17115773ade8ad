// The server's side of the SimConnect wire: the values and layouts that the
// stand-in simulator chooses itself, beside the shared layouts of
// simconnect/protocol.h (request ids, sizes and offsets, received kinds and the
// fields clients read). No OS calls.
#pragma once

#include <cstdint>

#include "simconnect/protocol.h"

namespace host_protocol {

// ---- Stream limits ------------------------------------------------------------
// A size field above kMaxRequestSize (or of 1 to 3) makes the stream malformed
// and drops the client. The bound leaves room for the largest client-data
// write (kMaxClientDataSize bytes after the 36-byte fixed part) and keeps a
// hostile size field from making the server buffer megabytes.
constexpr uint32_t kMaxRequestSize = 131072;

// ---- Received messages --------------------------------------------------------
// The version field (offset 4) of every received message: the simulator's
// major version.
constexpr uint32_t kReceivedVersion = 6;

// Open reply (kind 2), exactly protocol::open_reply::kSize (308) bytes: the
// simulator's name as text[256] at 12, the application's version 6.0.0.0 at
// 268 to 280 and SimConnect's at 284 to 296 (u32 each), the host connection
// number at 300 (never 0; protocol::open_reply), 0 at 304.
namespace open_reply {
constexpr uint32_t kApplicationName = 12;
constexpr char kApplicationNameText[] = "Prepar3D v6 (simhost)";
constexpr uint32_t kApplicationVersionMajor = 268;
constexpr uint32_t kSimConnectVersionMajor = 284;
constexpr uint32_t kVersionMajor = 6;
}  // namespace open_reply

// Quit (kind 3): the header alone.
constexpr uint32_t kQuitSize = protocol::kReceivedHeaderSize;

// Event (kind 4): group id at 12 is always kNoGroup (menu items belong to no
// notification group); the chosen item's data value at 20.
constexpr uint32_t kNoGroup = 0xFFFFFFFF;

// Object data (kind 8) and client data (kind 16): header, the six fields of
// protocol::data_msg, then the data from offset 40.
constexpr uint32_t kDataMessageFixedSize = protocol::data_msg::kData;
// Object id reported for the user aircraft (requested as object 0).
constexpr uint32_t kUserObjectId = 1;

// ---- Simulation variables -------------------------------------------------------
// The one simulation variable served by data definitions: the user aircraft's
// title, data type 10, a NUL-terminated text in a 260-byte field.
constexpr char kTitleDatumName[] = "TITLE";
constexpr uint32_t kDatumTypeString260 = 10;
constexpr uint32_t kTitleFieldSize = 260;

// Data-request periods.
enum Period : uint32_t {
  kPeriodNever = 0,
  kPeriodOnce = 1,
  kPeriodFrame = 3,   // object data: every simulation frame; client data: each time the area is set
  kPeriodSecond = 4,
};

// The largest client-data area, and so the largest datum of a definition.
constexpr uint32_t kMaxClientDataSize = 65536;

// ---- Exception codes (kind 1, offset 12) -------------------------------------------
// Offset 20 carries the index of the offending argument, counted from 1 in the
// order of the API function's arguments after the handle; 0 when the request
// as a whole is at fault (its size, id, version or place in the conversation).
enum ExceptionCode : uint32_t {
  kExceptionNone = 0,
  kExceptionSizeMismatch = 2,         // size does not fit the request's layout
  kExceptionUnrecognizedId = 3,       // unknown request id
  kExceptionVersionMismatch = 4,      // header version is not 37
  kExceptionNotOpen = 5,              // a request before Open
  kExceptionBadOpen = 7,              // a second Open, or Open's fixed values not the expected ones
  kExceptionStringNotTerminated = 8,  // a 256-byte text field without NUL
  kExceptionInvalidArgument = 9,      // any other argument that simhost does not serve
  kExceptionUnknownDefinition = 10,   // definition id never defined by this client
  kExceptionUnknownClientData = 14,   // client-data id not mapped, or the area not created
};

// Short text of an exception code for the console; "unknown" for others.
const char* ExceptionName(uint32_t code);

}  // namespace host_protocol
