// Building, encoding and decoding the client-data records. OS-free.
#include "lvar/records.h"

#include <cstring>

#include "simconnect/wire.h"

namespace records {

size_t SetText(char* field, size_t width, const char* text) {
  if (width == 0) return 0;
  std::memset(field, 0, width);
  wire::StoreFixedString(reinterpret_cast<uint8_t*>(field), width, text);
  return TextLength(field, width);
}

size_t TextLength(const char* field, size_t width) {
  return wire::FixedStringLength(reinterpret_cast<const uint8_t*>(field), width);
}

VarData MakeVarData(double value, bool isMjc, const char* name) {
  VarData record;
  record.value = value;
  record.isMjc = isMjc ? 1 : 0;
  SetText(record.name, sizeof record.name, name);
  return record;
}

HostEvent MakeHostEvent(uint32_t reference, uint32_t code, double value, const char* text) {
  HostEvent record;
  record.reference = reference;
  record.code = code;
  record.marker = kHostEventMarker;
  record.value = value;
  SetText(record.text, sizeof record.text, text);
  return record;
}

VarDump MakeVarDump(uint32_t firstId, uint32_t totalCount) {
  VarDump record;
  record.format = kVarDumpFormat;
  record.firstId = firstId;
  record.totalCount = totalCount;
  std::memset(record.names, 0, sizeof record.names);
  return record;
}

HostRequest MakeHostRequest(uint32_t tag, uint32_t command, uint32_t param, const char* name, double value) {
  HostRequest record;
  record.tag = tag;
  record.command = command;
  record.param = param;
  SetText(record.name, sizeof record.name, name);
  record.value = value;
  return record;
}

namespace {

// Copies a text field out of received bytes: cut to width - 1 characters when
// it holds no NUL, zero after its text.
void LoadText(char* field, size_t width, const uint8_t* bytes) {
  size_t n = wire::FixedStringLength(bytes, width - 1);
  std::memset(field, 0, width);
  std::memcpy(field, bytes, n);
}

}  // namespace

void EncodeHostRequest(const HostRequest& record, uint8_t* out) {
  wire::StoreU32(out + offsetof(HostRequest, tag), record.tag);
  wire::StoreU32(out + offsetof(HostRequest, command), record.command);
  wire::StoreU32(out + offsetof(HostRequest, param), record.param);
  std::memcpy(out + offsetof(HostRequest, name), record.name, sizeof record.name);
  wire::StoreF64(out + offsetof(HostRequest, value), record.value);
}

void EncodeVarData(const VarData& record, uint8_t* out) {
  wire::StoreF64(out + offsetof(VarData, value), record.value);
  wire::StoreU32(out + offsetof(VarData, isMjc), record.isMjc);
  std::memcpy(out + offsetof(VarData, name), record.name, sizeof record.name);
}

void EncodeVarDump(const VarDump& record, uint8_t* out) {
  wire::StoreU32(out + offsetof(VarDump, format), record.format);
  wire::StoreU32(out + offsetof(VarDump, firstId), record.firstId);
  wire::StoreU32(out + offsetof(VarDump, totalCount), record.totalCount);
  std::memcpy(out + offsetof(VarDump, names), record.names, sizeof record.names);
}

void EncodeHostEvent(const HostEvent& record, uint8_t* out) {
  wire::StoreU32(out + offsetof(HostEvent, reference), record.reference);
  wire::StoreU32(out + offsetof(HostEvent, code), record.code);
  wire::StoreU32(out + offsetof(HostEvent, marker), record.marker);
  wire::StoreF64(out + offsetof(HostEvent, value), record.value);
  std::memcpy(out + offsetof(HostEvent, text), record.text, sizeof record.text);
}

bool DecodeHostRequest(const uint8_t* data, size_t size, HostRequest* out) {
  if (data == nullptr || size < kHostRequestSize) return false;
  out->tag = wire::LoadU32(data + offsetof(HostRequest, tag));
  out->command = wire::LoadU32(data + offsetof(HostRequest, command));
  out->param = wire::LoadU32(data + offsetof(HostRequest, param));
  LoadText(out->name, sizeof out->name, data + offsetof(HostRequest, name));
  out->value = wire::LoadF64(data + offsetof(HostRequest, value));
  return true;
}

bool DecodeVarData(const uint8_t* data, size_t size, VarData* out) {
  if (data == nullptr || size < kVarDataSize) return false;
  out->value = wire::LoadF64(data + offsetof(VarData, value));
  out->isMjc = wire::LoadU32(data + offsetof(VarData, isMjc));
  LoadText(out->name, sizeof out->name, data + offsetof(VarData, name));
  return true;
}

bool DecodeVarDump(const uint8_t* data, size_t size, VarDump* out) {
  if (data == nullptr || size < kVarDumpSize) return false;
  out->format = wire::LoadU32(data + offsetof(VarDump, format));
  out->firstId = wire::LoadU32(data + offsetof(VarDump, firstId));
  out->totalCount = wire::LoadU32(data + offsetof(VarDump, totalCount));
  LoadText(out->names, sizeof out->names, data + offsetof(VarDump, names));
  return true;
}

bool DecodeHostEvent(const uint8_t* data, size_t size, HostEvent* out) {
  if (data == nullptr || size < kHostEventSize) return false;
  out->reference = wire::LoadU32(data + offsetof(HostEvent, reference));
  out->code = wire::LoadU32(data + offsetof(HostEvent, code));
  out->marker = wire::LoadU32(data + offsetof(HostEvent, marker));
  out->value = wire::LoadF64(data + offsetof(HostEvent, value));
  LoadText(out->text, sizeof out->text, data + offsetof(HostEvent, text));
  return true;
}

}  // namespace records
