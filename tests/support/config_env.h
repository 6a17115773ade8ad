// Forwarding header: the configuration writers now live in config_files.h;
// include that.
#pragma once

#include "support/config_files.h"
