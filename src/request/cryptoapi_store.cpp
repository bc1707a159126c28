#include "request/cryptoapi_store.h"

#include "store/root_certificate.h"
#include "store/store_services.h"

namespace zvcert {

CryptoApiStore& CryptoApiStore::Instance() {
  static CryptoApiStore store;
  return store;
}

void CryptoApiStore::ReadRootIssuerName(std::array<char, 128>& name) {
  zvcert::ReadRootIssuerName(name);
}

FindResult CryptoApiStore::FindSerial(const char* oid, std::string_view value,
                                      std::string_view issuerName, SerialValue& serial) {
  return FindCertSerial(oid, value, issuerName, serial);
}

PresenceResult CryptoApiStore::IsPresent(const SerialValue& serial, std::string_view issuerName) {
  return IsCertInStore(serial, issuerName);
}

DeleteResult CryptoApiStore::Delete(const SerialValue& serial, std::string_view issuerName) {
  return DeleteCertAndKey(serial, issuerName);
}

SignResult CryptoApiStore::Sign(const SerialValue& serial, std::string_view issuerName,
                                std::span<const uint8_t> data,
                                std::span<uint8_t, kSignatureAreaSize> out, int32_t& outLength) {
  return SignWithStoredCert(serial, issuerName, data, out, outLength);
}

bool CryptoApiStore::RequestChangesStore() const { return PendingKeyPolicy::kRequestChangesStore; }

RequestResult CryptoApiStore::MakeRequest(const RequestOutput& output, const SubjectValues& subject,
                                          std::string_view unstructuredName,
                                          std::string_view challengePassword) {
  return GenerateRequest(PendingKeyPolicy{}, output, subject, unstructuredName, challengePassword);
}

void CryptoApiStore::Hold(HeldKey held, std::span<const uint8_t> exported) {
  PendingKeyPolicy::Hold(held, exported);
}

ImportAnswer CryptoApiStore::Import(const char* pem, std::string_view issuerName, HeldKey held) {
  return PendingKeyPolicy::Import(pem, issuerName, held);
}

}  // namespace zvcert
