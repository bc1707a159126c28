// The store of the plug-in on Windows: certificates in the current user's
// "MY", keys in key containers, requests as the build's pending-key policy
// keeps them.
#pragma once

#include "request/key_store.h"

namespace zvcert {

class CryptoApiStore final : public KeyStore {
 public:
  // The store holds nothing of its own: one serves every object.
  static CryptoApiStore& Instance();

  void ReadRootIssuerName(std::array<char, 128>& name) override;
  FindResult FindSerial(const char* oid, std::string_view value, std::string_view issuerName,
                        SerialValue& serial) override;
  PresenceResult IsPresent(const SerialValue& serial, std::string_view issuerName) override;
  DeleteResult Delete(const SerialValue& serial, std::string_view issuerName) override;
  SignResult Sign(const SerialValue& serial, std::string_view issuerName,
                  std::span<const uint8_t> data, std::span<uint8_t, kSignatureAreaSize> out,
                  int32_t& outLength) override;
  bool RequestChangesStore() const override;
  RequestResult MakeRequest(const RequestOutput& output, const SubjectValues& subject,
                            std::string_view unstructuredName,
                            std::string_view challengePassword) override;
  void Hold(HeldKey held, std::span<const uint8_t> exported) override;
  ImportAnswer Import(const char* pem, std::string_view issuerName, HeldKey held) override;
};

}  // namespace zvcert
