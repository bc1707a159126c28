// What the extension shows the user before a page stores, deletes or signs
// with a certificate: its names and serial, read without changing anything.
#pragma once

#include <string>
#include <string_view>

namespace zvhost {

struct CertificateInfo {
  bool found = false;
  std::string subject;    // "CN=..., O=..." of the attributes present
  std::string issuer;     // the issuer's common name
  std::string serial;     // decimal, as FindCert reports it; "" when it cannot
  std::string serialHex;  // the certificate's own serial bytes, big-endian
};

// The certificate a page's CertSign or DelCert with this serial text would
// act on: the authority's certificate in "MY" with that serial.
CertificateInfo DescribeStoredCertificate(std::string_view serialText);

// The certificate in a PEM text a page passes to ImportCert.
CertificateInfo DescribePemCertificate(const std::string& pem);

}  // namespace zvhost
