// The issuing authority's root certificate, built in as PEM text (tab-indented
// lines, LF separators, no LF after the end line). Only its subject common
// name is used: lookups, deletions and signatures are restricted to
// certificates whose issuer bears that name.
#pragma once

#include <array>

namespace zvcert {

// Chosen when the plug-in is built; tests may point it elsewhere.
extern const char* rootCertificatePem;

// The root's subject common name, or left empty when the root cannot be read
// or has no common name (callers try again later).
void ReadRootIssuerName(std::array<char, 128>& name);

}  // namespace zvcert
