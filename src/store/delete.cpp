// Removing a certificate and the key container it names.
#include "store/handles.h"
#include "store/key_provider.h"
#include "store/store_services.h"

namespace zvcert {

DeleteResult DeleteCertAndKey(const SerialValue& serial, std::string_view issuerName) {
  ScopedStore store(platform.openPersonalStore());
  if (!store) return DeleteResult::StoreNotOpened;
  ScopedCertificate cert(LocateCertBySerial(store.get(), serial, issuerName));
  if (!cert) return DeleteResult::NotFound;

  KeyLocation key;
  switch (ReadKeyLocation(cert.get(), key)) {
    case KeyLocationStatus::Unreadable:
      return DeleteResult::NoKeyInfo;
    case KeyLocationStatus::Incomplete:
      return DeleteResult::NoContainerNamed;
    case KeyLocationStatus::Ok:
      break;
  }
  // The key goes first; the certificate only once its key is gone. Flags the
  // record may carry are not honoured: the user's own containers are meant.
  HCRYPTPROV none = 0;
  if (!platform.acquireContext(&none, key.container.data(), key.provider.data(), key.providerType,
                               kKeysetDelete)) {
    return DeleteResult::ContainerNotDeleted;
  }
  // Deletion consumes the context, even when it fails. Some platforms keep a
  // deletion from a system store only once committed: a failed commit is a
  // certificate that was not removed.
  if (!platform.deleteCertificate(cert.release()) || !platform.commitStore(store.get())) {
    return DeleteResult::CertificateNotRemoved;
  }
  return DeleteResult::Deleted;
}

}  // namespace zvcert
