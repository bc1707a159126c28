// What the extension shows the user before a page stores, deletes or signs
// with a certificate: its names and serial, read without changing anything.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/sha256.h"

namespace zvhost {

struct CertificateInfo {
  bool found = false;
  std::string subject;              // "CN=..., O=..." of the attributes present
  std::string issuer;               // the issuer's common name
  std::string serial;               // decimal, as FindCert reports it; "" when it cannot
  std::string serialHex;            // the certificate's own serial bytes, big-endian
  std::string notBefore, notAfter;  // validity, "YYYY-MM-DD hh:mm:ss UTC"
  // Whether the authority's root issued it: its issuer's name is the root's
  // and the root's key signed it. A root of another key may bear the name.
  bool fromAuthority = false;
  // SHA-256 of its DER (hex): which one of several certificates of a serial.
  std::string thumbprint;
  // The argument exactly as the plug-in reads the page's: the serial text
  // of the value read, or the certificate text as cut. Sent in the page's
  // place, it makes the call act on what was described.
  std::string canonical;
  bool expired = false;  // notAfter has passed
};

// CertSign's data as the plug-in decodes it: whether it does, how many bytes,
// their SHA-256 (hex), and, rendered from them by ShowSignedText
// (consent_text.h), the whole text the consent window shows.
struct DataInfo {
  bool valid = false;
  size_t size = 0;
  std::string sha256;
  std::string text;          // "" when unshown
  bool printable = false;    // text by that rule, however long
  size_t escaped = 0;        // ⟨U+XXXX⟩ escapes in text
  size_t folded = 0;         // ⟨N blank lines⟩, ⟨N spaces⟩ markers in text
  std::string_view unshown;  // "", or why text is not shown
};
DataInfo DescribeSignData(std::string_view base64);

// The same decoding alone, for what is then signed: false when the plug-in
// would refuse the text.
bool DecodeSignData(std::string_view base64, std::string& bytes);

// The certificate a page's CertSign or DelCert with this serial text would
// act on: the authority's certificate in "MY" with that serial, as the
// plug-in's lookups know it. With a thumbprint, the one signCms would act on:
// the certificate of that serial and thumbprint, if the root's key signed it.
CertificateInfo DescribeStoredCertificate(std::string_view serialText,
                                          const zvcert::Sha256Digest* thumbprint = nullptr);

// A certificate's serial (least significant byte first, as the plug-in holds
// it) as serialHex and, when it fits, as the decimal serial.
void SetSerialTexts(std::span<const uint8_t> serial, CertificateInfo& info);

// Lower-case hex of bytes, for digests.
std::string LowerHex(std::span<const uint8_t> bytes);

// The 32 bytes of a thumbprint's 64 hex digits; nothing for any other text.
std::optional<zvcert::Sha256Digest> ThumbprintBytes(std::string_view thumbprint);

// The certificate in a PEM text a page passes to ImportCert, cut as the
// plug-in cuts it (at a zero byte, after 8191 characters).
CertificateInfo DescribePemCertificate(std::string_view pem);

// The authority's certificates in "MY" that its root's key signed, in store
// order, each as described by serial (canonical its serial's text), except
// those whose serial the plug-in cannot report (serial "").
std::vector<CertificateInfo> ListAuthorityCertificates();

// A CMS SignedData (DER) of data, with the build's hash, by the key of the
// authority's certificate of that serial text (and thumbprint) that the
// root's key signed: the signer certificate included, the content unless
// detached. False, with why in error, when it cannot be made.
bool SignCms(std::string_view serialText, std::span<const uint8_t> data, bool detached,
             const zvcert::Sha256Digest* thumbprint, std::vector<uint8_t>& der, std::string& error);

}  // namespace zvhost
