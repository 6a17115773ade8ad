// Formatting of bridgectl's output. OS-free.
#include "output_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // The fewest significant digits that read back exactly; 17 always do.
  char text[48];
  int precision = 1;
  for (; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*e", precision - 1, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  if (precision > 17) precision = 17;
  // Those digits without an exponent for the magnitudes of panel variables
  // ("1200", not "1.2e+03"), with one for the very small and very large.
  const char* e = std::strchr(text, 'e');
  const int exponent = e != nullptr ? std::atoi(e + 1) : 0;
  if (exponent >= -5 && exponent < 17) {
    const int decimals = precision - 1 - exponent > 0 ? precision - 1 - exponent : 0;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
  } else {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
  }
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonNumber(double value) { return std::isfinite(value) ? FormatValue(value) : "null"; }

std::string JsonVarData(const ClockTime& time, const records::VarData& record) {
  return "{\"time\":" + JsonString(FormatIsoTime(time)) + ",\"name\":" +
         JsonString(TextOf(record.name, sizeof record.name)) + ",\"value\":" + JsonNumber(record.value) +
         ",\"mjc\":" + (record.isMjc != 0 ? "true" : "false") + "}";
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
  const std::string text = TextOf(event.text, sizeof event.text);
  std::string out = "{\"time\":" + JsonString(FormatIsoTime(time)) + ",\"event\":" + JsonString(EventName(event.code));
  switch (event.code) {
    case records::kEventAircraftTitle:
      out += ",\"title\":" + JsonString(text);
      break;
    case records::kEventConnectReply:
      out += ",\"text\":" + JsonString(text);
      break;
    case records::kEventVariableAdded:
      out += ",\"name\":" + JsonString(text) + ",\"value\":" + JsonNumber(event.value);
      break;
    case records::kEventVariableRemoved:
      out += ",\"name\":" + JsonString(text);
      break;
    case records::kEventRefused:
      out += ",\"name\":" + JsonString(text) + ",\"reason\":" + JsonNumber(event.value) +
             ",\"message\":" + JsonString(RefusalMessage(event, false));
      break;
    default:
      out += ",\"value\":" + JsonNumber(event.value) + ",\"text\":" + JsonString(text);
  }
  return out + "}";
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
  std::string out = "{\"count\":" + std::to_string(names.size()) + ",\"total\":" + std::to_string(totalCount) +
                    ",\"names\":[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ",";
    out += JsonString(names[i]);
  }
  return out + "]}";
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && variable_names::EqualFolded(a.c_str(), b.c_str());
}

}  // namespace bridgectl
