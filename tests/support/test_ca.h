// A certificate authority for Windows-side tests: issues certificates with
// chosen subjects, serials and keys, signed by a key it keeps in a container
// of its own, without any help from the plug-in.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zvcert::testing {

// Subject attributes as (object identifier, UTF-8 value) pairs.
using Subject = std::vector<std::pair<std::string, std::string>>;

class TestCa {
 public:
  explicit TestCa(const std::string& commonName);
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  // DER of a certificate for the public half of keyBlob (a PUBLICKEYBLOB or
  // PRIVATEKEYBLOB), with the serial given as its DER content bytes (most
  // significant first, sign byte included as wanted).
  std::vector<uint8_t> Issue(const Subject& subject, const std::vector<uint8_t>& serial,
                             std::span<const uint8_t> keyBlob) const;

  // DER of a certificate for a PKCS #10 request (PEM): its subject and key.
  std::vector<uint8_t> IssueForRequest(const std::string& requestPem,
                                       const std::vector<uint8_t>& serial) const;
  // The same for a request's DER, as PEM.
  std::string IssueForRequest(std::span<const uint8_t> requestDer,
                              const std::vector<uint8_t>& serial) const;

  // PEM of the authority's own root: self-signed, named commonName, with the
  // key that signs what it issues.
  std::string RootPem() const;

  const std::string& commonName() const { return commonName_; }

 private:
  std::vector<uint8_t> Sign(const CERT_NAME_BLOB& subject, const CERT_PUBLIC_KEY_INFO& key,
                            const std::vector<uint8_t>& serial) const;

  std::string commonName_;
  std::string container_;
  HCRYPTPROV provider_ = 0;
};

// Base64 written and read by the platform, independent of the plug-in's codec.
std::string PlatformBase64(const std::string& bytes);
std::vector<uint8_t> PlatformFromBase64(const std::string& text);

// PEM text: the Base64 in lines of 64 between the label's armour lines.
std::string Armored(const std::string& label, const std::string& base64);
// PEM text of DER bytes, as a CA hands it out.
std::string ToPem(const std::vector<uint8_t>& der);
// The DER between the first line and the end line of PEM text; empty when
// there is none.
std::vector<uint8_t> FromPem(const std::string& pem);

// A fresh key pair's PRIVATEKEYBLOB, from a throwaway container.
std::vector<uint8_t> NewKeyBlob();

// A certificate's key-provider record (CERT_KEY_PROV_INFO_PROP_ID): where
// its private key is kept.
struct KeyLink {
  std::wstring container, provider;  // empty when the record names none
  DWORD type = 0, spec = 0;
};
std::optional<KeyLink> KeyLinkOf(PCCERT_CONTEXT certificate);

// A certificate in "MY" as read from a store handle of the test's own.
struct HeldCertificate {
  std::string issuer, subject;      // common names, UTF-8
  std::vector<uint8_t> serial;      // least significant byte first, as the platform holds it
  std::vector<uint8_t> thumbprint;  // SHA-1
  std::optional<KeyLink> key;
};
std::vector<HeldCertificate> PersonalCertificates();

// Removes from "MY" every certificate whose issuer common name is issuer,
// and the key containers they name; returns how many went.
int PurgeIssuer(const std::string& issuer);

// Whether a key container exists: by name in the default PROV_RSA_FULL
// provider, or as a key link names it.
bool ContainerExists(const std::string& name);
bool ContainerExists(const KeyLink& key);
bool DeleteContainer(const KeyLink& key);

// The certificates in the user's "REQUEST" store whose subject DER is
// subject, read through a handle of the test's own; with clear, each goes
// with the container it names.
std::vector<KeyLink> RequestsNamed(std::span<const uint8_t> subject, bool clear = false);

// The user's key containers of the default provider (none when they cannot
// be listed).
std::vector<std::string> ContainerNames();
inline int CountContainers() { return static_cast<int>(ContainerNames().size()); }

}  // namespace zvcert::testing
