// The aircraft file: a small line-based text format (see README.md), read into
// an AircraftDescription and written back out. No OS calls.
//
//   title <text up to the end of the line>
//   var <name> <value>                       constant
//   var <name> const <value>
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
// a comment.
#pragma once

#include <string>

#include "aircraft_description.h"

namespace simhost {

// Parses a whole file's text. On failure returns false with `error` naming the
// line ("line 7: ...") and leaves `description` undefined.
bool ParseAircraft(const std::string& text, AircraftDescription* description, std::string* error);

// Reads and parses the file at `path` (a narrow path, as given on the command
// line). Errors name the file.
bool LoadAircraftFile(const std::string& path, AircraftDescription* description, std::string* error);

// Writes `description` in the file format; ParseAircraft reads it back to an equal
// description (numbers are written with 17 significant digits).
std::string FormatAircraft(const AircraftDescription& description);

}  // namespace simhost
