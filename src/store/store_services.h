// Operations on the current user's personal store "MY" and on key
// containers, each returning a code that names the step that failed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "encoding/sha256.h"
#include "store/handles.h"
#include "store/platform.h"
#include "store/serial.h"
#include "store/store_results.h"

namespace zvcert {

// ---- lookups ----

// Which certificates are the authority's: those whose issuer common name
// equals the root's, byte for byte, and with AuthorityCheck::Signature only
// those among them that the root's key signed; a root of another key may bear
// the same name. The plug-in's own lookups take the build's kAuthorityCheck.

// The SHA-256 of the certificate's DER, which tells apart certificates that
// share a serial.
Sha256Digest DerDigest(PCCERT_CONTEXT cert);

// The test every lookup applies.
bool IssuedByAuthority(PCCERT_CONTEXT cert, std::string_view issuerName,
                       AuthorityCheck rule = kAuthorityCheck);

// The first of the authority's certificates in store whose serial matches
// and, when sha256 is given, whose DER has that SHA-256 (one certificate
// among several of a serial); the caller owns it.
PCCERT_CONTEXT LocateCertBySerial(HCERTSTORE store, const SerialValue& serial,
                                  std::string_view issuerName,
                                  AuthorityCheck rule = kAuthorityCheck,
                                  std::span<const uint8_t> sha256 = {});

// The serial of the first certificate from the issuer whose subject
// attribute oid equals value (UTF-8, exact); serial is written only when one
// is found.
FindResult FindCertSerial(const char* oid, std::string_view value, std::string_view issuerName,
                          SerialValue& serial);

PresenceResult IsCertInStore(const SerialValue& serial, std::string_view issuerName);

// ---- deletion ----

// Deletes the key container the certificate names, then the certificate.
DeleteResult DeleteCertAndKey(const SerialValue& serial, std::string_view issuerName);

// ---- signing ----

// The authority's certificate of a serial and the key linked to it, opened
// for signing; released in reverse: provider, certificate, store.
struct SigningKey {
  ScopedStore store;
  ScopedCertificate cert;
  ScopedProvider provider;
};

// Ok, or the step that failed: StoreNotOpened, NotFound, NoKeyInfo,
// NoContainerNamed or ContainerNotOpened.
SignResult OpenSigningKey(const SerialValue& serial, std::string_view issuerName, SigningKey& key,
                          AuthorityCheck rule = kAuthorityCheck,
                          std::span<const uint8_t> sha256 = {});

// Signs data (the build's hash, PKCS #1 v1.5) with the certificate's key. On Ok, out
// holds the serial as passed and the signature least significant byte first,
// and outLength their total.
SignResult SignWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                              std::span<const uint8_t> data,
                              std::span<uint8_t, kSignatureAreaSize> out, int32_t& outLength);

// ---- import ----

enum class MatchResult : int32_t { Matches = 0, NoCertificate = -2, Differs = -3 };
enum class KeyImportResult : int32_t { Ok = 0, ContainerNotCreated = -1, KeyNotImported = -2 };

inline constexpr size_t kKeyProvInfoRecordSize = 2048;

// Whether the PEM certificate carries the public half of the blob's key: an
// RSA key with the same modulus.
MatchResult MatchesPendingKey(std::span<const uint8_t> privateKeyBlob, const char* pem);

// Imports the blob into a new container named "{GUID}" and fills record with
// the CRYPT_KEY_PROV_INFO (and its strings) that names it. A container whose
// key could not be imported is deleted again.
KeyImportResult ImportPrivateKeyToNewContainer(std::span<const uint8_t> privateKeyBlob,
                                               std::span<uint8_t, kKeyProvInfoRecordSize> record);

// Adds the certificate to "MY" (replacing a copy), imports the key into a new
// container and links the two. On failure the certificate stays as added,
// but a new container whose key is not linked is deleted again.
ImportResult ImportCertWithKey(const char* pem, std::span<const uint8_t> privateKeyBlob);

}  // namespace zvcert
