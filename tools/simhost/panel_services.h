// The panel-service table that the simulator hands its add-ons through their
// `Panels` export (lvar/panel_table.h): its four variable services reach the
// aircraft installed here, every other entry is null. There is one table per
// process, as there is one simulator. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lvar/panel_table.h"

namespace simhost {

class AircraftHost;

// Makes the table's services serve `aircraft` (null: no aircraft; lookups
// then find nothing) and returns the table's address, which stays valid for
// the life of the process.
const uint64_t* InstallPanelServices(AircraftHost* aircraft);

}  // namespace simhost
