// An optional lock of the certificate methods to the authority's pages.
#pragma once

#include <span>
#include <string_view>

#include "npapi/npapi.h"

namespace zvcert {

// The origins (scheme://host[:port], as browsers write them) whose pages may
// use the certificate methods; empty, the default, lets every page. Chosen
// when the plug-in is built; tests may point it elsewhere.
extern std::span<const std::string_view> pageOrigins;

// Whether the instance's page has one of the origins: window.location.origin
// read through the browser, every object and variant obtained released
// again. Anything unreadable on the way is no.
bool PageOriginAllowed(NPP npp, std::span<const std::string_view> origins);

}  // namespace zvcert
