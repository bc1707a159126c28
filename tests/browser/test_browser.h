// The test browser is the production plug-in host; tests keep their own
// namespace for it.
#pragma once

#include "host/plugin_host.h"

namespace testbrowser {
using namespace zvhost;
}  // namespace testbrowser
