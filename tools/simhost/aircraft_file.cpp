// Reading and writing the aircraft file format.
#include "aircraft_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "lvar/variable_names.h"

namespace simhost {

namespace {

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// The line without its comment and without trailing blanks.
std::string StripComment(const std::string& line) {
  size_t end = line.size();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) {
      end = i;
      break;
    }
  }
  while (end > 0 && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(0, end);
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool ParseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE || v > limit) return false;
  *value = v;
  return true;
}

class Parser {
 public:
  explicit Parser(AircraftDescription* description) : description_(description) { *description_ = AircraftDescription(); }

  bool Line(const std::string& raw) {
    ++lineNumber_;
    std::string line = StripComment(raw);
    std::vector<std::string> words = Split(line);
    if (words.empty()) return true;
    const std::string keyword = Lower(words[0]);
    if (keyword == "title") return Title(line);
    if (keyword == "var") return Variable(words);
    if (keyword == "seed") return Seed(words);
    if (keyword == "mjc") return Mjc(words);
    return Fail("unknown keyword \"" + words[0] + "\"");
  }

  bool Finish() {
    finishing_ = true;
    if (!haveTitle_) return Fail("no title line");
    if (mjcSettings_ && !description_->mjc.enabled) return Fail("mjc settings without \"mjc handshake\"");
    for (const MjcCodeEntry& code : description_->mjc.codes) {
      if (code.answer == MjcAnswer::kVariable && names_.count(Lower(code.variable)) == 0) {
        return Fail("mjc code " + std::to_string(code.code) + " names the unknown variable \"" + code.variable +
                    "\"");
      }
    }
    return true;
  }

  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& message) {
    error_ = (lineNumber_ > 0 && !finishing_ ? "line " + std::to_string(lineNumber_) + ": " : std::string()) +
             message;
    return false;
  }

  bool Title(const std::string& line) {
    if (haveTitle_) return Fail("a second title line");
    size_t keyword = line.find_first_not_of(" \t");
    size_t at = line.find_first_not_of(" \t", keyword + 5);
    if (at == std::string::npos) return Fail("an empty title");
    std::string title = line.substr(at);
    if (title.size() > kMaxTitle) return Fail("a title longer than " + std::to_string(kMaxTitle) + " characters");
    description_->title = title;
    haveTitle_ = true;
    return true;
  }

  bool AddVariable(const std::string& name, const Motion& motion) {
    if (name.size() > kMaxVariableName) {
      return Fail("a name longer than " + std::to_string(kMaxVariableName) + " characters");
    }
    if (!names_.insert(Lower(name)).second) return Fail("the variable \"" + name + "\" is declared twice");
    if (description_->variables.size() >= kMaxVariables) {
      return Fail("more than " + std::to_string(kMaxVariables) + " variables");
    }
    description_->variables.push_back(VariableDescription{name, motion});
    return true;
  }

  bool Numbers(const std::vector<std::string>& words, size_t first, size_t required, size_t optional,
               std::vector<double>* values) {
    size_t count = words.size() - first;
    if (count < required || count > required + optional) {
      return Fail("\"" + words[2] + "\" takes " + std::to_string(required) +
                  (optional ? " to " + std::to_string(required + optional) : std::string()) + " numbers");
    }
    for (size_t i = first; i < words.size(); ++i) {
      double v = 0.0;
      if (!ParseNumber(words[i], &v)) return Fail("\"" + words[i] + "\" is not a number");
      values->push_back(v);
    }
    return true;
  }

  bool Variable(const std::vector<std::string>& words) {
    if (words.size() < 3) return Fail("var needs a name and a value or a motion");
    const std::string& name = words[1];
    if (StartsWithNoCase(name, variable_names::kMjcPrefix)) {
      return Fail("names beginning with MJC_VAR_ belong to \"mjc handshake\"");
    }
    Motion motion;
    std::vector<double> v;
    const std::string kind = Lower(words[2]);
    double number = 0.0;
    if (words.size() == 3 && ParseNumber(words[2], &number)) {
      motion.value = number;
      return AddVariable(name, motion);
    }
    if (kind == "const") {
      if (!Numbers(words, 3, 1, 0, &v)) return false;
      motion.value = v[0];
    } else if (kind == "sine") {
      if (!Numbers(words, 3, 3, 1, &v)) return false;
      motion.kind = MotionKind::kSine;
      motion.center = v[0];
      motion.amplitude = v[1];
      motion.period = v[2];
      motion.phase = v.size() > 3 ? v[3] : 0.0;
    } else if (kind == "ramp") {
      if (!Numbers(words, 3, 3, 0, &v)) return false;
      motion.kind = MotionKind::kRamp;
      motion.from = v[0];
      motion.to = v[1];
      motion.period = v[2];
    } else if (kind == "toggle") {
      if (!Numbers(words, 3, 3, 0, &v)) return false;
      motion.kind = MotionKind::kToggle;
      motion.a = v[0];
      motion.b = v[1];
      motion.period = v[2];
    } else if (kind == "walk") {
      if (!Numbers(words, 3, 4, 1, &v)) return false;
      motion.kind = MotionKind::kWalk;
      motion.value = v[0];
      motion.step = v[1];
      motion.low = v[2];
      motion.high = v[3];
      motion.interval = v.size() > 4 ? v[4] : 1.0;
      if (motion.low > motion.high) return Fail("walk: low is above high");
      if (motion.step < 0) return Fail("walk: a negative step");
      if (!(motion.interval > 0)) return Fail("walk: the interval must be above 0");
    } else {
      return Fail("unknown motion \"" + words[2] + "\"");
    }
    if (!(motion.period > 0)) return Fail("the period must be above 0");
    return AddVariable(name, motion);
  }

  bool Seed(const std::vector<std::string>& words) {
    uint64_t seed = 0;
    if (words.size() != 2 || !ParseUnsigned(words[1], UINT64_MAX, &seed)) return Fail("seed takes one number");
    description_->seed = seed;
    return true;
  }

  bool Mjc(const std::vector<std::string>& words) {
    if (words.size() < 2) return Fail("mjc needs a setting");
    const std::string setting = Lower(words[1]);
    MjcSettings& mjc = description_->mjc;
    if (setting == "handshake") {
      if (mjc.enabled) return Fail("a second \"mjc handshake\"");
      if (words.size() > 3 || (words.size() == 3 && Lower(words[2]) != "read-only")) {
        return Fail("mjc handshake takes only \"read-only\"");
      }
      mjc.enabled = true;
      mjc.readOnly = words.size() == 3;
      bool ok = AddVariable(variable_names::kMjcReadCode, Motion()) && AddVariable(variable_names::kMjcReadValue, Motion());
      if (ok && !mjc.readOnly) ok = AddVariable(variable_names::kMjcWriteCode, Motion()) && AddVariable(variable_names::kMjcWriteValue, Motion());
      return ok;
    }
    mjcSettings_ = true;
    if (setting == "delay") {
      uint64_t delay = 0;
      if (words.size() != 3 || !ParseUnsigned(words[2], 600000, &delay)) {
        return Fail("mjc delay takes milliseconds (0 to 600000)");
      }
      mjc.delayMs = static_cast<uint32_t>(delay);
      return true;
    }
    if (setting == "unknown") {
      const std::string answer = words.size() == 3 ? Lower(words[2]) : std::string();
      if (answer == "notfound") {
        mjc.unknownAnswer = MjcAnswer::kNotFound;
      } else if (answer == "silent") {
        mjc.unknownAnswer = MjcAnswer::kSilent;
      } else {
        return Fail("mjc unknown takes notfound or silent");
      }
      return true;
    }
    if (setting == "code") return MjcCode(words);
    return Fail("unknown mjc setting \"" + words[1] + "\"");
  }

  bool MjcCode(const std::vector<std::string>& words) {
    uint64_t code = 0;
    if (words.size() < 4 || !ParseUnsigned(words[2], 0xFFFFFFFFu, &code) || code == 0) {
      return Fail("mjc code takes a code from 1 to 4294967295 and an answer");
    }
    MjcCodeEntry entry;
    entry.code = static_cast<uint32_t>(code);
    const std::string answer = Lower(words[3]);
    if (answer == "var" && words.size() == 5) {
      entry.answer = MjcAnswer::kVariable;
      entry.variable = words[4];
    } else if (answer == "value" && words.size() == 5) {
      entry.answer = MjcAnswer::kValue;
      if (!ParseNumber(words[4], &entry.value)) return Fail("\"" + words[4] + "\" is not a number");
    } else if (answer == "notfound" && words.size() == 4) {
      entry.answer = MjcAnswer::kNotFound;
    } else if (answer == "silent" && words.size() == 4) {
      entry.answer = MjcAnswer::kSilent;
    } else {
      return Fail("mjc code answers: var <name>, value <number>, notfound or silent");
    }
    for (const MjcCodeEntry& other : description_->mjc.codes) {
      if (other.code == entry.code) return Fail("mjc code " + std::to_string(entry.code) + " is given twice");
    }
    description_->mjc.codes.push_back(entry);
    return true;
  }

  AircraftDescription* description_;
  std::string error_;
  int lineNumber_ = 0;
  bool finishing_ = false;  // errors found after the last line name no line
  bool haveTitle_ = false;
  bool mjcSettings_ = false;
  std::set<std::string> names_;  // lower-case names declared so far
};

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

const char* AnswerWord(MjcAnswer answer) {
  switch (answer) {
    case MjcAnswer::kVariable: return "var";
    case MjcAnswer::kValue: return "value";
    case MjcAnswer::kNotFound: return "notfound";
    default: return "silent";
  }
}

}  // namespace

bool ParseAircraft(const std::string& text, AircraftDescription* description, std::string* error) {
  Parser parser(description);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!parser.Line(line)) {
      if (error) *error = parser.Error();
      return false;
    }
  }
  if (!parser.Finish()) {
    if (error) *error = parser.Error();
    return false;
  }
  return true;
}

bool LoadAircraftFile(const std::string& path, AircraftDescription* description, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = path + ": cannot be opened";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  std::string parseError;
  if (!ParseAircraft(text.str(), description, &parseError)) {
    if (error) *error = path + ": " + parseError;
    return false;
  }
  return true;
}

std::string FormatAircraft(const AircraftDescription& description) {
  std::ostringstream out;
  out << "title " << description.title << "\n";
  out << "seed " << description.seed << "\n";
  for (const VariableDescription& variable : description.variables) {
    if (StartsWithNoCase(variable.name, variable_names::kMjcPrefix)) {
      if (variable.name == variable_names::kMjcReadCode) {
        out << "mjc handshake" << (description.mjc.readOnly ? " read-only" : "") << "\n";
      }
      continue;
    }
    const Motion& m = variable.motion;
    out << "var " << variable.name << " ";
    switch (m.kind) {
      case MotionKind::kConstant:
        out << Number(m.value);
        break;
      case MotionKind::kSine:
        out << "sine " << Number(m.center) << " " << Number(m.amplitude) << " " << Number(m.period) << " "
            << Number(m.phase);
        break;
      case MotionKind::kRamp:
        out << "ramp " << Number(m.from) << " " << Number(m.to) << " " << Number(m.period);
        break;
      case MotionKind::kToggle:
        out << "toggle " << Number(m.a) << " " << Number(m.b) << " " << Number(m.period);
        break;
      case MotionKind::kWalk:
        out << "walk " << Number(m.value) << " " << Number(m.step) << " " << Number(m.low) << " " << Number(m.high)
            << " " << Number(m.interval);
        break;
    }
    out << "\n";
  }
  if (description.mjc.enabled) {
    out << "mjc delay " << description.mjc.delayMs << "\n";
    out << "mjc unknown " << AnswerWord(description.mjc.unknownAnswer) << "\n";
    for (const MjcCodeEntry& code : description.mjc.codes) {
      out << "mjc code " << code.code << " " << AnswerWord(code.answer);
      if (code.answer == MjcAnswer::kVariable) out << " " << code.variable;
      if (code.answer == MjcAnswer::kValue) out << " " << Number(code.value);
      out << "\n";
    }
  }
  return out.str();
}

}  // namespace simhost
