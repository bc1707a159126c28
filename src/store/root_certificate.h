// The issuing authority's root certificate, built in as PEM text (tab-indented
// lines, LF separators, no LF after the end line). Its subject common name
// restricts lookups, deletions and signatures to certificates whose issuer
// bears that name; its public key tells the authority's certificates from
// those of another root that merely bears the same name.
#pragma once

#include <array>

#include "store/platform.h"
#include "store/root_pem.h"

namespace zvcert {

// The root's subject common name, or left empty when the root cannot be read
// or has no common name (callers try again later).
void ReadRootIssuerName(std::array<char, 128>& name);

// Whether the root's key signed cert; false when the root cannot be read.
bool SignedByRoot(PCCERT_CONTEXT cert);

}  // namespace zvcert
