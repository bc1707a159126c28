// The certificate reader under arbitrary bytes, which lie in a heap buffer
// of exactly their size (AddressSanitizer catches any read outside them).
// The input is read as a Certificate and, whole, as a Name. Whatever is
// accepted must hold together:
//  - every view lies inside the input, and the input cut by one byte or
//    grown by one is refused;
//  - attribute text is well-formed UTF-8;
//  - the signature check runs on the certificate's own key (exponents of up
//    to four bytes, so that each input stays quick).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "encoding/utf8.h"
#include "store/certificate_reader.h"

namespace {

using Bytes = std::span<const uint8_t>;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "certificate_fuzz: %s\n", why);
  std::abort();
}

bool Inside(Bytes part, Bytes whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool Refused(Bytes der) {
  const std::unique_ptr<uint8_t[]> area(new uint8_t[der.size()]);
  if (!der.empty()) std::memcpy(area.get(), der.data(), der.size());
  zvcert::CertificateView view;
  return !zvcert::ReadCertificate(Bytes(area.get(), der.size()), view);
}

// Decoding and encoding again changes nothing in well-formed UTF-8.
void CheckText(Bytes name, std::string_view oid) {
  std::string text;
  if (!zvcert::NameAttributeText(name, oid, text)) return;
  std::string again;
  for (size_t pos = 0; pos < text.size();) {
    std::array<char, 4> bytes;
    again.append(bytes.data(), zvcert::EncodeUtf8(zvcert::NextCodePoint(text, pos), bytes));
  }
  if (again != text) Fail("attribute text is not UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<uint8_t[]> area(new uint8_t[size]);
  if (size != 0) std::memcpy(area.get(), data, size);
  const Bytes input(area.get(), size);
  for (const char* oid : {"2.5.4.3", "2.5.4.10", "1.2.840.113549.1.9.1"}) CheckText(input, oid);

  zvcert::CertificateView view;
  if (!zvcert::ReadCertificate(input, view)) return 0;
  for (const Bytes part :
       {view.der, view.toBeSigned, view.serial, view.issuer, view.subject, view.publicKeyInfo,
        view.modulus, view.exponent, view.signatureAlgorithm, view.signature}) {
    if (!Inside(part, input)) Fail("a view outside the certificate");
  }
  if (view.der.size() != size) Fail("the certificate does not fill its bytes");
  std::string grown(reinterpret_cast<const char*>(data), size);
  grown.push_back('\0');
  if (!Refused(input.first(size - 1)) ||
      !Refused(Bytes(reinterpret_cast<const uint8_t*>(grown.data()), grown.size()))) {
    Fail("a cut or grown certificate read");
  }
  for (const Bytes name : {view.issuer, view.subject}) CheckText(name, "2.5.4.3");
  zvcert::FormatUtcTime(view.notBefore);
  zvcert::FormatUtcTime(view.notAfter);
  if (view.exponent.size() <= 4) zvcert::SignatureVerifies(view, view.modulus, view.exponent);
  return 0;
}
