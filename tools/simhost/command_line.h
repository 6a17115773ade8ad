// Splitting one console or script line into a command word, its arguments
// and the raw rest of the line. No OS calls.
#pragma once

#include <string>
#include <vector>

namespace simhost {

struct CommandLine {
  std::string command;            // lower case; empty for a blank or comment line
  std::vector<std::string> args;  // blank-separated; "double quotes" group blanks
  std::string rest;               // everything after the command word, trimmed, one pair of outer quotes removed
};

// '#' at the start of a line (after blanks) makes the whole line a comment.
CommandLine ParseCommandLine(const std::string& line);

// Strict number parsing for command arguments.
bool ParseUint(const std::string& text, unsigned long long max, unsigned long long* value);
bool ParseDouble(const std::string& text, double* value);

}  // namespace simhost
