// The issuing authority's root certificate, built in as PEM text (tab-indented
// lines, LF separators, no LF after the end line): chosen when the plug-in or
// the host is built; tests may point it elsewhere.
#pragma once

namespace zvcert {

extern const char* rootCertificatePem;

}  // namespace zvcert
