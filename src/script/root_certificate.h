// The issuing authority's root certificate, built in as PEM text (tab-indented
// lines, LF separators, no LF after the end line). Only its subject common
// name is used: lookups, deletions and signatures are restricted to
// certificates whose issuer bears that name.
#pragma once

namespace zvcert {

// Chosen when the plug-in is built; tests may point it elsewhere.
extern const char* rootCertificatePem;

}  // namespace zvcert
