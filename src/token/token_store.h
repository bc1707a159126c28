// The key store on a PKCS #11 token: key pairs are generated on the token and
// never leave it; a certificate is stored beside its key, both bearing the
// same CKA_ID (the SHA-256 of the key's modulus). Certificates are public
// objects, found without login; keys are private, used after Login.
#pragma once

#include <p11-kit/pkcs11.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "request/key_store.h"
#include "store/certificate_reader.h"
#include "token/module.h"
#include "token/token_objects.h"

namespace zvcert {

struct TokenInfo {
  CK_SLOT_ID slot = 0;
  // Without the blanks that pad them on the token.
  std::string label;
  std::string manufacturer;
  std::string model;
  std::string serialNumber;
  bool protectedAuthenticationPath = false;  // a PIN pad or reader asks for the PIN
  bool loginRequired = false;
};

// Given the loaded module's function list, the one the store calls through:
// tests return a copy with entries replaced, to count or fail them. The host
// gives none.
using FunctionListHook = CK_FUNCTION_LIST* (*)(CK_FUNCTION_LIST* loaded);

class TokenStore final : public KeyStore {
 public:
  // The module loads on first use; rootPem is the authority's root.
  TokenStore(std::string modulePath, std::string rootPem, FunctionListHook hook = nullptr);
  ~TokenStore() override;
  TokenStore(const TokenStore&) = delete;
  TokenStore& operator=(const TokenStore&) = delete;

  // The slots whose token is present and initialised; NoToken when none is.
  StoreProblem Tokens(std::vector<TokenInfo>& out);
  // The token later calls use; the first one present until one is chosen.
  StoreProblem Choose(CK_SLOT_ID slot);
  // The slot Choose named; nothing while the first present serves.
  std::optional<CK_SLOT_ID> chosen() const { return chosen_; }
  // The user's login, kept until the store goes. An empty PIN on a token
  // with a protected authentication path lets the token ask for it.
  StoreProblem Login(std::string_view pin);
  // The DER of the authority's certificates on the token, in its order.
  StoreProblem AuthorityCertificates(std::string_view issuerName,
                                     std::vector<std::vector<uint8_t>>& ders);
  // The build's hash, PKCS #1 v1.5, most significant byte first, by the key
  // of the authority's certificate of serial that the root's key signed
  // (whatever the build's authority check); with a thumbprint, the one whose
  // DER has that SHA-256. certificateDer is that certificate.
  SignResult SignWithKeyOf(const SerialValue& serial, std::string_view issuerName,
                           std::span<const uint8_t> sha256Thumbprint, std::span<const uint8_t> data,
                           std::vector<uint8_t>& signature, std::vector<uint8_t>& certificateDer);

  // Without a session the lookups answer StoreNotOpened. Without login, what
  // needs the private key answers ContainerNotCreated (MakeRequest),
  // ContainerNotOpened (Sign) or ContainerNotDeleted (Delete), the problem
  // PinRequired. A token or session that goes away is TokenRemoved; the next
  // call opens a new session.
  void ReadRootIssuerName(std::array<char, 128>& name) override;
  // Whether the root issued cert: its issuer's common name is the root's and
  // the root's key signed it (a root of another key may bear the name).
  bool IssuedByRoot(const CertificateView& cert) const;
  FindResult FindSerial(const char* oid, std::string_view value, std::string_view issuerName,
                        SerialValue& serial) override;
  PresenceResult IsPresent(const SerialValue& serial, std::string_view issuerName) override;
  DeleteResult Delete(const SerialValue& serial, std::string_view issuerName) override;
  SignResult Sign(const SerialValue& serial, std::string_view issuerName,
                  std::span<const uint8_t> data, std::span<uint8_t, kSignatureAreaSize> out,
                  int32_t& outLength) override;
  bool RequestChangesStore() const override { return true; }
  RequestResult MakeRequest(const RequestOutput& output, const SubjectValues& subject,
                            std::string_view unstructuredName,
                            std::string_view challengePassword) override;
  // The key waits on the token: nothing to hold.
  void Hold(HeldKey, std::span<const uint8_t>) override {}
  ImportAnswer Import(const char* pem, std::string_view issuerName, HeldKey held) override;
  StoreProblem problem() const override { return reported_; }
  void ClearProblem() override { reported_ = StoreProblem::None; }

 private:
  // Each public call starts without a problem of its own and reports the
  // one it ran into; it ends without a session the token has dropped: the
  // next call opens a new one.
  class Call {
   public:
    explicit Call(TokenStore& store) : store_(store) { store.problem_ = StoreProblem::None; }
    ~Call() {
      if (store_.problem_ != StoreProblem::None) store_.reported_ = store_.problem_;
      if (store_.sessionLost_) store_.session_.reset();
      store_.sessionLost_ = false;
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    TokenStore& store_;
  };
  // A view into its own der, which keeps its bytes where they are when moved.
  struct Certificate {
    CK_OBJECT_HANDLE object;
    std::vector<uint8_t> der;
    CertificateView view;
  };

  static constexpr char kCommonNameOid[] = "2.5.4.3";

  bool LoadModule();
  bool ListTokens(std::vector<TokenInfo>& out);
  // The module and a session on the chosen token; problem_ says why not.
  bool Open();
  bool LoggedIn();
  // True on CKR_OK; notes a token or session that went away.
  bool Succeeded(CK_RV rv);
  CK_SESSION_HANDLE session() const { return session_->handle(); }
  bool ReadRoot(std::vector<uint8_t>& der, CertificateView& view) const;
  // The authority's certificates in the token's order; false when they
  // cannot be listed.
  bool Authority(std::string_view issuerName, AuthorityCheck rule, std::vector<Certificate>& found);
  // The first of them whose serial matches (and DER hashes to the thumbprint).
  std::optional<Certificate> Locate(const SerialValue& serial, std::string_view issuerName,
                                    AuthorityCheck rule, std::span<const uint8_t> thumbprint,
                                    bool& listed);
  std::vector<CK_OBJECT_HANDLE> KeysWithId(CK_OBJECT_CLASS keyClass, std::span<const uint8_t> id);
  SignResult SignData(const SerialValue& serial, std::string_view issuerName, AuthorityCheck rule,
                      std::span<const uint8_t> thumbprint, std::span<const uint8_t> data,
                      std::vector<uint8_t>& signature, std::vector<uint8_t>* certificateDer);
  // A public or private RSA key with that modulus (big-endian, no leading zeros).
  std::optional<CK_OBJECT_HANDLE> KeyWithModulus(std::span<const uint8_t> modulus);

  std::string modulePath_;
  std::string rootPem_;
  FunctionListHook hook_;
  // Declared before the session, which must close before the module finalises.
  Pkcs11Module module_;
  CK_FUNCTION_LIST* functions_ = nullptr;
  std::optional<CK_SLOT_ID> chosen_;
  std::unique_ptr<TokenSession> session_;
  bool sessionLost_ = false;
  StoreProblem problem_ = StoreProblem::None;   // the current call's
  StoreProblem reported_ = StoreProblem::None;  // since ClearProblem()
};

}  // namespace zvcert
