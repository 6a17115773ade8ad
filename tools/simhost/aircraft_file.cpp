// Reading aircraft files and generating aircraft.
#include "aircraft_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "lvar/variable_names.h"

namespace simhost {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = variable_names::FoldAscii(c);
  return text;
}

void AddHandshake(AircraftDescription* aircraft, bool readOnly) {
  namespace n = variable_names;
  aircraft->mjc.enabled = true;
  aircraft->mjc.readOnly = readOnly;
  for (const char* name : {n::kMjcReadCode, n::kMjcReadValue, n::kMjcWriteCode, n::kMjcWriteValue}) {
    if (readOnly && name == n::kMjcWriteCode) break;
    aircraft->variables.push_back({name, Motion()});
  }
}

// One statement, split into words (the title line whole); "" when it is fine.
std::string Statement(const std::string& line, const std::vector<std::string>& w, AircraftDescription* a) {
  const std::string keyword = Lower(w[0]);
  std::vector<double> v;  // the numbers from the third word on (var) or the third (mjc)
  auto numbers = [&](size_t first, size_t least, size_t most) {
    if (w.size() < first + least || w.size() > first + most) return false;
    for (size_t i = first; i < w.size(); ++i) {
      double d = 0.0;
      if (!ReadNumber(w[i], &d)) return false;
      v.push_back(d);
    }
    return true;
  };
  if (keyword == "title") {
    if (w.size() < 2) return "an empty title";
    a->title = line.substr(line.find_first_not_of(" \t", line.find_first_of(" \t")));
    return "";
  }
  if (keyword == "seed") {
    if (!numbers(1, 1, 1) || v[0] < 0) return "seed takes one number";
    a->seed = static_cast<uint64_t>(v[0]);
    return "";
  }
  if (keyword == "var" && w.size() >= 3) {
    Motion m;
    const std::string kind = Lower(w[2]);
    if (w.size() == 3 && ReadNumber(w[2], &m.value)) {
    } else if (kind == "sine" && numbers(3, 3, 4)) {
      m = Sine(v[0], v[1], v[2], v.size() > 3 ? v[3] : 0.0);
    } else if (kind == "ramp" && numbers(3, 3, 3)) {
      m = Ramp(v[0], v[1], v[2]);
    } else if (kind == "toggle" && numbers(3, 3, 3)) {
      m = Toggle(v[0], v[1], v[2]);
    } else if (kind == "walk" && numbers(3, 4, 5)) {
      m = Walk(v[0], v[1], v[2], v[3], v.size() > 4 ? v[4] : 1.0);
    } else {
      return "var takes a name and a value or a motion with its numbers";
    }
    if (!(m.period > 0 && m.interval > 0)) return "the period must be above 0";
    a->variables.push_back({w[1], m});
    return "";
  }
  const std::string setting = w.size() > 1 ? Lower(w[1]) : std::string();
  if (keyword != "mjc") return "unknown keyword \"" + w[0] + "\"";
  if (setting == "handshake" && (w.size() == 2 || (w.size() == 3 && Lower(w[2]) == "read-only"))) {
    AddHandshake(a, w.size() == 3);
    return "";
  }
  if (setting == "delay" && numbers(2, 1, 1) && v[0] >= 0 && v[0] <= 600000) {
    a->mjc.delayMs = static_cast<uint32_t>(v[0]);
    return "";
  }
  if (setting == "unknown" && w.size() == 3 && (Lower(w[2]) == "notfound" || Lower(w[2]) == "silent")) {
    a->mjc.unknownAnswer = Lower(w[2]) == "silent" ? MjcAnswer::kSilent : MjcAnswer::kNotFound;
    return "";
  }
  MjcCodeEntry entry;
  double code = 0.0;
  const std::string answer = w.size() > 3 ? Lower(w[3]) : std::string();
  if (setting != "code" || !ReadNumber(w[2], &code) || code < 1 || code > 0xFFFFFFFFu) {
    return "mjc takes handshake [read-only], delay <ms>, unknown notfound|silent or code <code> <answer>";
  }
  entry.code = static_cast<uint32_t>(code);
  if (answer == "var" && w.size() == 5) {
    entry.answer = MjcAnswer::kVariable, entry.variable = w[4];
  } else if (answer == "value" && w.size() == 5 && ReadNumber(w[4], &entry.value)) {
    entry.answer = MjcAnswer::kValue;
  } else if ((answer == "notfound" || answer == "silent") && w.size() == 4) {
    entry.answer = answer == "silent" ? MjcAnswer::kSilent : MjcAnswer::kNotFound;
  } else {
    return "mjc code answers: var <name>, value <number>, notfound or silent";
  }
  a->mjc.codes.push_back(entry);
  return "";
}

}  // namespace

bool ReadNumber(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(*value);
}

bool ParseAircraft(const std::string& text, AircraftDescription* description, std::string* error) {
  *description = AircraftDescription();
  std::istringstream in(text);
  std::string line, problem;
  for (int number = 1; std::getline(in, line); ++number) {
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) line.resize(i);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (!w.empty() && !(problem = Statement(line, w, description)).empty()) {
      if (error) *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  if (description->title.empty() && error) *error = "no title line";
  return !description->title.empty();
}

bool LoadAircraftFile(const std::string& path, AircraftDescription* description, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  std::string problem = file ? "" : "cannot be opened";
  if (file && ParseAircraft(text.str(), description, &problem)) return true;
  if (error) *error = path + ": " + problem;
  return false;
}

AircraftDescription GenerateAircraft(size_t count, uint64_t seed, bool withMjc) {
  static const char* const kGroups[] = {"ENG", "ELEC", "HYD", "FUEL", "AIR", "NAV", "FCU", "LIGHT"};
  AircraftDescription aircraft;
  count = std::min(count, withMjc ? kMaxVariables - 4 : kMaxVariables);
  aircraft.title = "Generated Aircraft " + std::to_string(count);
  aircraft.seed = seed;
  for (size_t i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "GEN_%s_%05u", kGroups[(i / 5) % 8], static_cast<unsigned>(i));
    const double scale = 1.0 + static_cast<double>((i * 7919 + seed) % 100);
    const double period = 2.0 + static_cast<double>((i * 31 + seed) % 29);
    const Motion motions[] = {Constant(scale), Sine(scale, scale / 2.0, period, static_cast<double>((i * 37) % 360)),
                              Ramp(0.0, scale, period), Toggle(0.0, 1.0, period / 2.0),
                              Walk(scale / 2.0, scale / 20.0, 0.0, scale, 0.5)};
    aircraft.variables.push_back({name, motions[i % 5]});
  }
  if (withMjc) {
    AddHandshake(&aircraft, false);
    for (uint32_t code = 1; code <= 100; ++code) {
      aircraft.mjc.codes.push_back({code, MjcAnswer::kValue, "", code * 10.0});
    }
  }
  return aircraft;
}

AircraftDescription RampAircraft(const std::string& title, const std::string& prefix, size_t count, double periodS,
                                 const std::vector<std::pair<std::string, double>>& constants) {
  AircraftDescription aircraft;
  aircraft.title = title;
  for (size_t i = 0; i < count; ++i) {
    aircraft.variables.push_back({prefix + std::to_string(i), Ramp(0.0, 1000.0, periodS)});
  }
  for (const auto& constant : constants) aircraft.variables.push_back({constant.first, Constant(constant.second)});
  return aircraft;
}

bool LoadAircraftArgument(const std::string& argument, AircraftDescription* description, std::string* error) {
  for (const std::string prefix : {"gen:", "gen-mjc:"}) {
    if (argument.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string count = argument.substr(prefix.size());
    char* end = nullptr;
    const unsigned long n = std::strtoul(count.c_str(), &end, 10);
    if (count.empty() || *end != '\0' || n > kMaxVariables) {
      *error = "\"" + argument + "\": the count must be a number from 0 to " + std::to_string(kMaxVariables);
      return false;
    }
    *description = GenerateAircraft(n, 1, prefix == "gen-mjc:");
    return true;
  }
  return LoadAircraftFile(argument, description, error);
}

}  // namespace simhost
