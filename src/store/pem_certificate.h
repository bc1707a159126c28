// A PEM certificate text made into a platform certificate context.
#pragma once

#include "store/handles.h"
#include "store/platform.h"

namespace zvcert {

// A context in no store of the caller's, or null when the text holds no
// readable certificate. The caller releases it (deleteCertificate).
PCCERT_CONTEXT ParsePemCertificate(const char* pem);

// A parsed certificate lives in no store of ours; deletion disposes of it.
struct ParsedCertificateTraits {
  using Handle = PCCERT_CONTEXT;
  static void Release(Handle h) { platform.deleteCertificate(h); }
};
using ParsedCertificate = ScopedHandle<ParsedCertificateTraits>;

}  // namespace zvcert
