// The records exchanged with the application through the four client-data
// areas, their names and ids, and the command and event codes. Shared by the
// bridge and the command-line application; no OS headers.
//
// Each record is a packed struct whose size and field offsets are pinned below,
// so that it is also the byte image the application sees on a little-endian
// host. The Encode/Decode functions read and write the little-endian bytes at
// those offsets explicitly and check sizes, so code that moves bytes never
// depends on the host's layout or byte order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace records {

// ---- Client-data names and the ids the bridge gives them --------------------
// Each area has one definition: a single block at offset 0 covering the whole
// area, epsilon 0.0, datum id kDatumIdUnused.
constexpr char kVarDataAreaName[] = "TAVO_SC_DYN_VARDATA_ID";
constexpr char kVarDataDefinitionName[] = "TAVO_SC_DYN_VARDATA_DATA";
constexpr char kVarDumpAreaName[] = "TAVO_SC_DYN_VARDUMP_ID";
constexpr char kVarDumpDefinitionName[] = "TAVO_SC_DYN_VARDUMP_DATA";
constexpr char kHostRequestAreaName[] = "TAVO_SC_DYN_HOSTRESQUEST_ID";
constexpr char kHostRequestDefinitionName[] = "TAVO_SC_DYN_HOSTRESQUEST_DATA";
constexpr char kHostEventAreaName[] = "TAVO_SC_DYN_HOSTEVENT_ID";
constexpr char kHostEventDefinitionName[] = "TAVO_SC_DYN_HOSTEVENT_DATA";

constexpr uint32_t kVarDataAreaId = 0x4C565201;
constexpr uint32_t kVarDataDefinitionId = 0x4C565202;
constexpr uint32_t kVarDumpAreaId = 0x4C565203;
constexpr uint32_t kVarDumpDefinitionId = 0x4C565204;
constexpr uint32_t kHostRequestAreaId = 0x4C565205;
constexpr uint32_t kHostRequestDefinitionId = 0x4C565206;
constexpr uint32_t kHostEventAreaId = 0x4C565207;
constexpr uint32_t kHostEventDefinitionId = 0x4C565208;

constexpr uint32_t kDatumIdUnused = 0xFFFFFFFF;

// The bridge's subscription to the host-request area: request id, period 3
// (each time the area is set).
constexpr uint32_t kHostRequestId = 10000;
constexpr uint32_t kPeriodOnSet = 3;

// ---- Command codes of HostRequest -------------------------------------------
enum Command : uint32_t {
  kCommandRebuild = 0,           // rebuild the registry, notifying
  kCommandSendLVARS = 1,         // the variable list as VarDump chunks
  kCommandStartMonitoring = 2,   // name, param (MJC code), value (interval)
  kCommandStopMonitoring = 3,    // name
  kCommandSetValue = 4,          // name, param (MJC code), value
  kCommandForceUpdate = 5,       // name
  kCommandAttention = 6,         // on-screen attention text
  kCommandConnect = 7,           // tag, param (peer id)
  kCommandNone8 = 8,
  kCommandSendAircraftName = 9,
  kCommandSendKeys = 10,         // name holds the key string
  kCommandNone11 = 11,
  kCommandNone12 = 12,
  kCommandNone13 = 13,
  kCommandHeartbeat = 14,
};
constexpr uint32_t kHighestCommand = 14;

// ---- Event codes of HostEvent ------------------------------------------------
enum EventCode : uint32_t {
  kEventConnectReply = 7,    // value kVersionValue, text kVersionText
  kEventAircraftTitle = 8,   // value kVersionValue, text the title
  kEventVariableAdded = 12,  // value the variable's value, text its name
  kEventRefused = 13,        // value one of the kRefused* values, text the name
  kEventVariableRemoved = 15,  // value 0.0, text the name
};
constexpr double kRefusedNotFound = -1.0;       // StartMonitoring of an unknown name
constexpr double kRefusedNotMonitored = -2.0;   // StopMonitoring of an unknown name;
                                                // MJC write without the handshake
constexpr double kRefusedReservedName = -5.0;   // StartMonitoring of "MJC_VAR_..."

constexpr double kVersionValue = 1.21;
constexpr char kVersionText[] = "TAVO.quin Bridge Version 1.0.0.21";

constexpr uint32_t kVarDumpFormat = 0x01010202;   // bytes 02 02 01 01
constexpr uint32_t kVarDumpClosingId = 0xFFFFFFFF;  // firstId of the closing record
constexpr uint32_t kHostEventMarker = 1;

// ---- Record layouts ----------------------------------------------------------
#pragma pack(push, 1)

// From the application, 276 bytes.
struct HostRequest {
  uint32_t tag;      // Connect: echoed as HostEvent.reference
  uint32_t command;  // Command
  uint32_t param;    // Connect: peer id; StartMonitoring/SetValue: MJC code or 0
  char name[256];    // NUL-terminated, at most 255 characters
  double value;      // StartMonitoring: interval in ms when > 0; SetValue: value
};

// One variable's value, 268 bytes.
struct VarData {
  double value;
  uint32_t isMjc;  // 1 for an MJC variable, else 0
  char name[256];
};

// One chunk of the variable list, 4012 bytes.
struct VarDump {
  uint32_t format;      // kVarDumpFormat
  uint32_t firstId;     // 0 in the first chunk, kVarDumpClosingId in the closing one
  uint32_t totalCount;  // the registry's element count
  char names[4000];     // "name;name;...;" and a NUL, at most 3999 characters
};

// One event for the application, 1044 bytes.
struct HostEvent {
  uint32_t reference;  // Connect reply: the request's tag; else 0
  uint32_t code;       // EventCode
  uint32_t marker;     // kHostEventMarker
  double value;
  char text[1024];     // at most 1023 characters and a NUL
};

#pragma pack(pop)

constexpr size_t kHostRequestSize = 276;
constexpr size_t kVarDataSize = 268;
constexpr size_t kVarDumpSize = 4012;
constexpr size_t kHostEventSize = 1044;

// ---- Each area with its definition and record size ----------------------------
struct Area {
  const char* areaName;
  uint32_t areaId;
  const char* definitionName;
  uint32_t definitionId;
  uint32_t size;  // of the area, of its one definition block and of its record
};

constexpr Area kVarDataArea = {kVarDataAreaName, kVarDataAreaId, kVarDataDefinitionName, kVarDataDefinitionId,
                               static_cast<uint32_t>(kVarDataSize)};
constexpr Area kVarDumpArea = {kVarDumpAreaName, kVarDumpAreaId, kVarDumpDefinitionName, kVarDumpDefinitionId,
                               static_cast<uint32_t>(kVarDumpSize)};
constexpr Area kHostRequestArea = {kHostRequestAreaName, kHostRequestAreaId, kHostRequestDefinitionName,
                                   kHostRequestDefinitionId, static_cast<uint32_t>(kHostRequestSize)};
constexpr Area kHostEventArea = {kHostEventAreaName, kHostEventAreaId, kHostEventDefinitionName,
                                 kHostEventDefinitionId, static_cast<uint32_t>(kHostEventSize)};

// ---- The application's side ---------------------------------------------------
// The request ids the project's applications give their three subscriptions
// (any ids of the application's own would do), and the four areas with them
// (0: the host-request area, which the application writes).
constexpr uint32_t kAppVarDataRequestId = 101;
constexpr uint32_t kAppVarDumpRequestId = 102;
constexpr uint32_t kAppHostEventRequestId = 103;

struct AppArea : Area {
  uint32_t requestId;
};

constexpr AppArea kAppAreas[] = {
    {kVarDataArea, kAppVarDataRequestId},
    {kVarDumpArea, kAppVarDumpRequestId},
    {kHostRequestArea, 0},
    {kHostEventArea, kAppHostEventRequestId},
};

constexpr size_t kHostRequestNameSize = 256;
constexpr size_t kVarDataNameSize = 256;
constexpr size_t kVarDumpNamesSize = 4000;
constexpr size_t kHostEventTextSize = 1024;

static_assert(sizeof(HostRequest) == kHostRequestSize, "HostRequest is 276 bytes");
static_assert(offsetof(HostRequest, tag) == 0, "HostRequest.tag");
static_assert(offsetof(HostRequest, command) == 4, "HostRequest.command");
static_assert(offsetof(HostRequest, param) == 8, "HostRequest.param");
static_assert(offsetof(HostRequest, name) == 12, "HostRequest.name");
static_assert(offsetof(HostRequest, value) == 268, "HostRequest.value");

static_assert(sizeof(VarData) == kVarDataSize, "VarData is 268 bytes");
static_assert(offsetof(VarData, value) == 0, "VarData.value");
static_assert(offsetof(VarData, isMjc) == 8, "VarData.isMjc");
static_assert(offsetof(VarData, name) == 12, "VarData.name");

static_assert(sizeof(VarDump) == kVarDumpSize, "VarDump is 4012 bytes");
static_assert(offsetof(VarDump, format) == 0, "VarDump.format");
static_assert(offsetof(VarDump, firstId) == 4, "VarDump.firstId");
static_assert(offsetof(VarDump, totalCount) == 8, "VarDump.totalCount");
static_assert(offsetof(VarDump, names) == 12, "VarDump.names");

static_assert(sizeof(HostEvent) == kHostEventSize, "HostEvent is 1044 bytes");
static_assert(offsetof(HostEvent, reference) == 0, "HostEvent.reference");
static_assert(offsetof(HostEvent, code) == 4, "HostEvent.code");
static_assert(offsetof(HostEvent, marker) == 8, "HostEvent.marker");
static_assert(offsetof(HostEvent, value) == 12, "HostEvent.value");
static_assert(offsetof(HostEvent, text) == 20, "HostEvent.text");

// ---- Text fields -------------------------------------------------------------
// Fills a fixed text field of `width` bytes: the text cut to width - 1
// characters, its NUL, zero to the end. A null text leaves the field all zero.
// Returns the number of characters stored.
size_t SetText(char* field, size_t width, const char* text);

// Length of the text in a fixed field, never reading past `width` (width when
// the field holds no NUL).
size_t TextLength(const char* field, size_t width);

// ---- Building records (fields zeroed, texts cut to their fields) --------------
VarData MakeVarData(double value, bool isMjc, const char* name);
HostEvent MakeHostEvent(uint32_t reference, uint32_t code, double value, const char* text);
// A chunk with format kVarDumpFormat, the given ids and an empty name list.
VarDump MakeVarDump(uint32_t firstId, uint32_t totalCount);
HostRequest MakeHostRequest(uint32_t tag, uint32_t command, uint32_t param, const char* name, double value);

// ---- Byte images -------------------------------------------------------------
// Encode* write exactly the record's size in bytes, little-endian, at the
// offsets above; text fields are copied whole (all their bytes).
void EncodeHostRequest(const HostRequest& record, uint8_t* out);
void EncodeVarData(const VarData& record, uint8_t* out);
void EncodeVarDump(const VarDump& record, uint8_t* out);
void EncodeHostEvent(const HostEvent& record, uint8_t* out);

// Decode* read a record from `size` bytes. They return false, and leave *out
// untouched, when size is below the record's size; bytes beyond it are ignored.
// Every text field of the result ends in a NUL: a field without one is cut to
// its width - 1 characters, and the bytes after the first NUL are zeroed.
bool DecodeHostRequest(const uint8_t* data, size_t size, HostRequest* out);
bool DecodeVarData(const uint8_t* data, size_t size, VarData* out);
bool DecodeVarDump(const uint8_t* data, size_t size, VarDump* out);
bool DecodeHostEvent(const uint8_t* data, size_t size, HostEvent* out);

}  // namespace records
