// Writing one record into its client-data area: the area's id, its definition
// id, flags 0, reserved 0, the record's size and its little-endian bytes,
// through the handle in the connection holder at the moment of the call.
// Each returns the SimConnect_SetClientData result.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "lvar/records.h"

HRESULT WriteVarData(const records::VarData& record);
HRESULT WriteVarDump(const records::VarDump& record);
HRESULT WriteHostEvent(const records::HostEvent& record);
