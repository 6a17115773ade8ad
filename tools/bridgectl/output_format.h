// What bridgectl prints: numbers, times, JSON objects, the variable list, and
// the bridge's events in plain words. OS-free.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "lvar/records.h"

namespace bridgectl {

// A wall-clock time as the console layer reads it.
struct ClockTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "12:00:01.234"
std::string FormatTimeOfDay(const ClockTime& time);
// "2024-05-01T12:00:01.234" (local time)
std::string FormatIsoTime(const ClockTime& time);

// The shortest text that reads back as the same double ("84.2", "1e+20",
// "-0.5"); "nan", "inf" and "-inf" for the values that have no digits.
std::string FormatValue(double value);

// JSON output, with keys in the order they are added. A line is written in
// ASCII; a number that is not finite becomes null.
using Json = nlohmann::ordered_json;
std::string JsonLine(const Json& object);
// The bridge's texts are single bytes of the system's code page: each byte
// stands for the code point of its value (U+0000..U+00FF), so a byte above
// 0x7F is written as \u0080..\u00ff.
Json JsonText(const std::string& text);

// {"time":"...","name":"...","value":...,"mjc":false}
std::string JsonVarData(const ClockTime& time, const records::VarData& record);
// {"time":"...","event":"aircraft","title":"..."} and the like (see EventName).
std::string JsonEvent(const ClockTime& time, const records::HostEvent& event);

// "connected", "aircraft", "added", "refused", "removed", or "event-<code>".
std::string EventName(uint32_t code);

// One line for an event, for people: "aircraft changed: <title>",
// "variable added: NAME = 1.5", ...
std::string DescribeEvent(const records::HostEvent& event);

// The plain message for a refusal (event code 13), by its value: -1 an unknown
// name, -2 an unknown name for StopMonitoring or, after an MJC write
// (`afterMjcWrite`), an aircraft without the write handshake, -5 a name
// reserved for the handshake.
std::string RefusalMessage(const records::HostEvent& event, bool afterMjcWrite);

// The list as printed by `list`: one name a line, then the total line
// ("52 variables", with the bridge's own count when it differs).
std::string ListingText(const std::vector<std::string>& names, uint32_t totalCount);
// {"count":N,"total":T,"names":[...]}
std::string JsonListing(const std::vector<std::string>& names, uint32_t totalCount);

// Case-insensitive (ASCII) comparison, as the bridge matches names.
bool SameName(const std::string& a, const std::string& b);

}  // namespace bridgectl
