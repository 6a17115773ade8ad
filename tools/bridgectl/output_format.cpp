// Formatting of bridgectl's output. OS-free.
#include "output_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "lvar/variable_names.h"

namespace bridgectl {

namespace {

std::string TextOf(const char* field, size_t width) { return std::string(field, records::TextLength(field, width)); }

}  // namespace

std::string FormatTimeOfDay(const ClockTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time.hour, time.minute, time.second, time.millisecond);
  return text;
}

std::string FormatIsoTime(const ClockTime& time) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month, time.day, time.hour,
                time.minute, time.second, time.millisecond);
  return text;
}

std::string FormatValue(double value) {
  if (std::isnan(value)) return "nan";  // to_chars would write "-nan" for some
  // The fewest digits that read back exactly (std::to_chars without a
  // precision), and without an exponent for the magnitudes of panel
  // variables ("1200", "12000000", "0.000125"): fixed notation from 1e-5 up to
  // 1e17, scientific beyond ("1e+20", "1.5e-07"), and for infinities "inf".
  const double magnitude = std::fabs(value);
  const bool scientific = value != 0.0 && std::isfinite(value) && (magnitude < 1e-5 || magnitude >= 1e17);
  char text[64];  // at most 17 digits with a sign, a point and 5 zeros, or an exponent
  const std::to_chars_result written = std::to_chars(
      text, text + sizeof text, value, scientific ? std::chars_format::scientific : std::chars_format::fixed);
  return std::string(text, written.ptr);
}

std::string JsonLine(const Json& object) { return object.dump(-1, ' ', true); }

Json JsonText(const std::string& text) {
  std::string utf8;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

std::string JsonVarData(const ClockTime& time, const records::VarData& record) {
  return JsonLine({{"time", FormatIsoTime(time)},
                   {"name", JsonText(TextOf(record.name, sizeof record.name))},
                   {"value", record.value},
                   {"mjc", record.isMjc != 0}});
}

std::string EventName(uint32_t code) {
  switch (code) {
    case records::kEventConnectReply:
      return "connected";
    case records::kEventAircraftTitle:
      return "aircraft";
    case records::kEventVariableAdded:
      return "added";
    case records::kEventRefused:
      return "refused";
    case records::kEventVariableRemoved:
      return "removed";
    default:
      return "event-" + std::to_string(code);
  }
}

std::string JsonEvent(const ClockTime& time, const records::HostEvent& event) {
  const Json text = JsonText(TextOf(event.text, sizeof event.text));
  Json out = {{"time", FormatIsoTime(time)}, {"event", EventName(event.code)}};
  switch (event.code) {
    case records::kEventAircraftTitle:
      out["title"] = text;
      break;
    case records::kEventConnectReply:
      out["text"] = text;
      break;
    case records::kEventVariableAdded:
      out["name"] = text;
      out["value"] = event.value;
      break;
    case records::kEventVariableRemoved:
      out["name"] = text;
      break;
    case records::kEventRefused:
      out["name"] = text;
      out["reason"] = event.value;
      out["message"] = JsonText(RefusalMessage(event, false));
      break;
    default:
      out["value"] = event.value;
      out["text"] = text;
  }
  return JsonLine(out);
}

std::string DescribeEvent(const records::HostEvent& event) {
  const std::string text = TextOf(event.text, sizeof event.text);
  switch (event.code) {
    case records::kEventConnectReply:
      return "bridge answered: " + text;
    case records::kEventAircraftTitle:
      return "aircraft: " + text;
    case records::kEventVariableAdded:
      return "variable added: " + text + " = " + FormatValue(event.value);
    case records::kEventVariableRemoved:
      return "variable removed: " + text;
    case records::kEventRefused:
      return "refused: " + RefusalMessage(event, false);
    default:
      return "event " + std::to_string(event.code) + ": " + FormatValue(event.value) + " " + text;
  }
}

std::string RefusalMessage(const records::HostEvent& event, bool afterMjcWrite) {
  const std::string name = TextOf(event.text, sizeof event.text);
  if (event.value == records::kRefusedNotFound) return "unknown variable " + name;
  if (event.value == records::kRefusedNotMonitored) {
    if (afterMjcWrite) return "the aircraft offers no MJC write handshake (" + name + ")";
    return "unknown variable " + name + " (it cannot stop being monitored)";
  }
  if (event.value == records::kRefusedReservedName) {
    return name + ": names that begin with MJC_VAR_ belong to the MJC handshake and cannot be monitored";
  }
  return "the bridge refused " + name + " (reason " + FormatValue(event.value) + ")";
}

std::string ListingText(const std::vector<std::string>& names, uint32_t totalCount) {
  std::string out;
  for (const std::string& name : names) out += name + "\n";
  out += std::to_string(names.size()) + (names.size() == 1 ? " variable" : " variables");
  if (totalCount != names.size()) {
    out += " (the bridge counts " + std::to_string(totalCount) + ": MJC variables are counted but not listed)";
  }
  return out + "\n";
}

std::string JsonListing(const std::vector<std::string>& names, uint32_t totalCount) {
  Json list = Json::array();
  for (const std::string& name : names) list.push_back(JsonText(name));
  return JsonLine({{"count", names.size()}, {"total", totalCount}, {"names", list}});
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && variable_names::EqualFolded(a.c_str(), b.c_str());
}

}  // namespace bridgectl
