// The module-wide services that the LVAR code expects (bridge_services.h), as
// the discovery benchmark provides them when it links that code directly:
// a log written like the module's (a timestamped line per call, flushed at
// once) into a file of the temporary folder, no SimConnect connection (every
// record write fails at once, so the figures leave the transport out), no
// Stop event, and the system tick.
#pragma once

namespace bench {

// Opens (truncates) the log file; false when it cannot be created, in which
// case lines are formatted and dropped.
bool OpenDiscoveryLog();
void CloseDiscoveryLog();

}  // namespace bench
