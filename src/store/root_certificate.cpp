#include "store/root_certificate.h"

#include "store/handles.h"
#include "store/pem_certificate.h"
#include "store/platform.h"

namespace zvcert {

void ReadRootIssuerName(std::array<char, 128>& name) {
  PCCERT_CONTEXT root = ParsePemCertificate(rootCertificatePem);
  if (root == nullptr) return;
  if (platform.getNameAttribute(root, kSubjectName, kCommonNameOid, name.data(),
                                static_cast<DWORD>(name.size())) == 0) {
    name[0] = '\0';
  }
  name.back() = '\0';
  platform.deleteCertificate(root);  // frees the context
}

bool SignedByRoot(PCCERT_CONTEXT cert) {
  const ScopedCertificate root(ParsePemCertificate(rootCertificatePem));
  return root && platform.verifyIssuedBy(cert, root.get());
}

}  // namespace zvcert
