// Forwarding header: U64At and AddressOf now live in support/bytes.h; the
// recording host moved to tests/simconnect. Include support/bytes.h instead.
#pragma once

#include "support/bytes.h"
