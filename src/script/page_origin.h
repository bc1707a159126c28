// An optional lock of the certificate methods to the authority's pages.
#pragma once

#include <span>
#include <string_view>

#include "npapi/npapi.h"

namespace zvcert {

// Whether the instance's page may use the certificate methods; null, the
// default, lets every page without asking the browser. Chosen when the
// plug-in is built (a build without the lock links none of this file's
// code); tests may point it elsewhere.
extern bool (*pageOriginCheck)(NPP npp);

// Whether the instance's page has one of the origins: window.location.origin
// read through the browser, every object and variant obtained released
// again. Anything unreadable on the way is no.
bool PageOriginAllowed(NPP npp, std::span<const std::string_view> origins);

}  // namespace zvcert
