// Forwarding header: RawServer now lives in raw_endpoints.h; include that.
#pragma once

#include "support/raw_endpoints.h"
