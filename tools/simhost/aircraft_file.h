// Where an aircraft comes from: the aircraft file, a small line-based text
// format (see README.md), or a generated aircraft of any size. No OS calls.
//
//   title <text up to the end of the line>
//   var <name> <value>                       constant
//   var <name> sine <center> <amplitude> <period-s> [<phase-deg>]
//   var <name> ramp <from> <to> <period-s>
//   var <name> toggle <a> <b> <period-s>
//   var <name> walk <start> <step> <low> <high> [<interval-s>]
//   seed <number>
//   mjc handshake [read-only]       the handshake variables take their ids here
//   mjc delay <ms>
//   mjc unknown notfound|silent
//   mjc code <code> var <name> | value <number> | notfound | silent
//
// Blank lines are ignored; '#' at the start of a line or after a blank starts
// a comment; keywords are case-insensitive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "aircraft_description.h"

namespace simhost {

// The whole of `text` as a finite decimal number, or false.
bool ReadNumber(const std::string& text, double* value);

// Parses a whole file's text. On failure returns false with `error` naming the
// line ("line 7: ...") and leaves `description` undefined.
bool ParseAircraft(const std::string& text, AircraftDescription* description, std::string* error);

// Reads and parses the file at `path` (a narrow path). Errors name the file.
bool LoadAircraftFile(const std::string& path, AircraftDescription* description, std::string* error);

// `count` variables named GEN_<GROUP>_<number> (number from 00000): a fifth
// each of constants, sines, ramps, toggles and random walks, in rotation, the
// same for the same seed. With `withMjc` the handshake variables follow them
// and codes 1 to 100 answer with values of their own (code * 10).
AircraftDescription GenerateAircraft(size_t count, uint64_t seed, bool withMjc);

// An aircraft built in C++ (tests, benchmarks): `count` variables <prefix>0,
// <prefix>1, ... that ramp from 0 to 1000 over `periodS` seconds, so that
// every frame moves them, then the `constants` (name, value) in their order.
AircraftDescription RampAircraft(const std::string& title, const std::string& prefix, size_t count, double periodS,
                                 const std::vector<std::pair<std::string, double>>& constants = {});

// An aircraft argument of the command line or the console: "gen:N" (N
// generated variables), "gen-mjc:N" (the same with the MJC handshake) or the
// path of an aircraft file.
bool LoadAircraftArgument(const std::string& argument, AircraftDescription* description, std::string* error);

}  // namespace simhost
