#include "store/pem_certificate.h"

#include <string_view>

#include "encoding/pem.h"

namespace zvcert {

PCCERT_CONTEXT ParsePemCertificate(const char* pem) {
  if (pem == nullptr) return nullptr;
  DerArea der;
  const std::optional<size_t> size = DecodePemCertificate(pem, der);
  if (!size) return nullptr;
  return platform.createCertificate(der.data(), static_cast<DWORD>(*size));
}

}  // namespace zvcert
