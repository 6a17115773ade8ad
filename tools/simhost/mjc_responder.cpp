// The aircraft side of the MJC handshake.
#include "mjc_responder.h"

#include <cmath>

#include "lvar/variable_names.h"

namespace simhost {

namespace {

// Codes travel as doubles; the integer part counts.
uint32_t CodeOf(double value) {
  if (!(value >= 0.0) || value >= 4294967296.0) return 0;
  return static_cast<uint32_t>(std::trunc(value));
}

}  // namespace

MjcResponder::MjcResponder(const MjcSettings& settings, const AircraftModel& model) : settings_(settings) {
  if (!settings_.enabled) return;
  readCodeId_ = model.Lookup(variable_names::kMjcReadCode);
  readValueId_ = model.Lookup(variable_names::kMjcReadValue);
  writeCodeId_ = model.Lookup(variable_names::kMjcWriteCode);
  writeValueId_ = model.Lookup(variable_names::kMjcWriteValue);
  for (const MjcCodeEntry& code : settings_.codes) {
    if (code.answer == MjcAnswer::kValue) values_[code.code] = code.value;
  }
}

const MjcCodeEntry* MjcResponder::Find(uint32_t code) const {
  for (const MjcCodeEntry& entry : settings_.codes) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

MjcAnswer MjcResponder::AnswerFor(uint32_t code, const MjcCodeEntry** entry) const {
  *entry = Find(code);
  if (*entry != nullptr) return (*entry)->answer;
  // Codes outside the table have no variable or value of their own.
  return settings_.unknownAnswer == MjcAnswer::kSilent ? MjcAnswer::kSilent : MjcAnswer::kNotFound;
}

void MjcResponder::AfterWrite(int32_t id, double value, uint64_t nowMs, AircraftModel& model, double seconds) {
  if (!settings_.enabled || id < 0) return;
  uint32_t code = CodeOf(value);
  // Writing an answer code (or 0) back is not a request.
  bool request = code != 0 && code != kMjcDone && code != kMjcNotFound;
  if (id == readCodeId_) {
    read_ = Pending{request, code, nowMs, 0.0};
  } else if (id == writeCodeId_) {
    write_ = Pending{request, code, nowMs, writeValueId_ >= 0 ? model.Read(writeValueId_, seconds) : 0.0};
  }
}

void MjcResponder::BeforeRead(int32_t id, uint64_t nowMs, AircraftModel& model, double seconds) {
  if (!settings_.enabled || id < 0) return;
  if ((id == readCodeId_ || id == readValueId_) && read_.active && nowMs - read_.sinceMs >= settings_.delayMs) {
    read_.active = false;
    AnswerRead(model, seconds);
  }
  if (id == writeCodeId_ && write_.active && nowMs - write_.sinceMs >= settings_.delayMs) {
    write_.active = false;
    AnswerWrite(model);
  }
}

void MjcResponder::AnswerRead(AircraftModel& model, double seconds) {
  const MjcCodeEntry* entry = nullptr;
  switch (AnswerFor(read_.code, &entry)) {
    case MjcAnswer::kVariable:
      model.Write(readValueId_, model.Read(model.Lookup(entry->variable.c_str()), seconds));
      model.Write(readCodeId_, kMjcDone);
      break;
    case MjcAnswer::kValue:
      model.Write(readValueId_, values_[read_.code]);
      model.Write(readCodeId_, kMjcDone);
      break;
    case MjcAnswer::kNotFound:
      model.Write(readCodeId_, kMjcNotFound);
      break;
    case MjcAnswer::kSilent:
      break;  // the code stays as written: the add-on times out
  }
}

void MjcResponder::AnswerWrite(AircraftModel& model) {
  const MjcCodeEntry* entry = nullptr;
  switch (AnswerFor(write_.code, &entry)) {
    case MjcAnswer::kVariable:
      model.Write(model.Lookup(entry->variable.c_str()), write_.value);
      model.Write(writeCodeId_, kMjcDone);
      break;
    case MjcAnswer::kValue:
      values_[write_.code] = write_.value;
      model.Write(writeCodeId_, kMjcDone);
      break;
    case MjcAnswer::kNotFound:
      model.Write(writeCodeId_, kMjcNotFound);
      break;
    case MjcAnswer::kSilent:
      break;
  }
}

}  // namespace simhost
