#include "support/bytes.h"


uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(offset + i);
  return value;
}

uint64_t U64At(const std::vector<uint8_t>& bytes, size_t offset) {
  return U32At(bytes, offset) | (static_cast<uint64_t>(U32At(bytes, offset + 4)) << 32);
}

std::string TextAt(const std::vector<uint8_t>& bytes, size_t offset) {
  std::string text;
  for (size_t i = offset; i < bytes.size() && bytes[i] != 0; ++i) text += static_cast<char>(bytes[i]);
  return text;
}

namespace {

void Put(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> MakeReceived(uint32_t kind, uint32_t size) {
  std::vector<uint8_t> message(size, 0);
  Put(message, 0, size);
  Put(message, 4, 4);
  Put(message, 8, kind);
  return message;
}

std::vector<uint8_t> MenuEvent(uint32_t eventId) { return Bytes(24).U32(0, 24).U32(4, 4).U32(8, 4).U32(16, eventId).vec(); }

std::vector<uint8_t> HostRequestMessage(uint32_t command, const std::string& name, double value, uint32_t param,
                                        uint32_t tag, uint32_t requestId) {
  Bytes message(40 + 276);
  message.U32(0, 316).U32(4, 4).U32(8, 16).U32(12, requestId);
  return message.U32(40, tag).U32(44, command).U32(48, param).Text(52, name).Raw(308, &value, 8).vec();
}
