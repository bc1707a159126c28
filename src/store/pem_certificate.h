// A PEM certificate text made into a platform certificate context.
#pragma once

#include "store/platform.h"

namespace zvcert {

// A context in no store of the caller's, or null when the text holds no
// readable certificate. The caller releases it (deleteCertificate).
PCCERT_CONTEXT ParsePemCertificate(const char* pem);

}  // namespace zvcert
