// The test browser is the host's browser side built with its checks
// (ZVCERT_BROWSER_CHECKS, target test_browser); tests keep their own
// namespace for it.
#pragma once

#include "host/plugin_host.h"

#if !ZVCERT_BROWSER_CHECKS
#error "the tests' browser needs ZVCERT_BROWSER_CHECKS=1: link the target test_browser"
#endif

namespace testbrowser {
using namespace zvhost;
}  // namespace testbrowser
