#include "support/test_ca.h"

#include "support/request_checks.h"

#include <algorithm>
#include <memory>

namespace zvcert::testing {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size() + 1, L'\0');
  out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                 static_cast<int>(out.size())));
  return out;
}

std::vector<uint8_t> Encode(LPCSTR type, const void* value) {
  DWORD size = 0;
  CryptEncodeObject(X509_ASN_ENCODING, type, value, nullptr, &size);
  std::vector<uint8_t> out(size);
  if (!CryptEncodeObject(X509_ASN_ENCODING, type, value, out.data(), &size)) return {};
  out.resize(size);
  return out;
}

// A Name of UTF8String values, one attribute per RDN, in the order given.
std::vector<uint8_t> EncodeName(const Subject& subject) {
  std::vector<std::wstring> values;
  for (const auto& attribute : subject) values.push_back(Wide(attribute.second));
  std::vector<CERT_RDN_ATTR> attrs(subject.size());
  std::vector<CERT_RDN> rdns(subject.size());
  for (size_t i = 0; i < subject.size(); ++i) {
    attrs[i].pszObjId = const_cast<char*>(subject[i].first.c_str());
    attrs[i].dwValueType = CERT_RDN_UTF8_STRING;
    attrs[i].Value.cbData = static_cast<DWORD>(values[i].size() * sizeof(wchar_t));
    attrs[i].Value.pbData = reinterpret_cast<BYTE*>(values[i].data());
    rdns[i] = {1, &attrs[i]};
  }
  CERT_NAME_INFO name = {static_cast<DWORD>(rdns.size()), rdns.data()};
  return Encode(X509_UNICODE_NAME, &name);
}

// The subject's or (with CERT_NAME_ISSUER_FLAG) the issuer's common name, as UTF-8.
std::string CommonName(PCCERT_CONTEXT certificate, DWORD flags) {
  wchar_t name[512] = {};
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(szOID_COMMON_NAME),
                     name, 512);
  char utf8[1536] = {};
  WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}
std::string IssuerName(PCCERT_CONTEXT certificate) {
  return CommonName(certificate, CERT_NAME_ISSUER_FLAG);
}

FILETIME DaysFromNow(int days) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME t;
  SystemTimeToFileTime(&now, &t);
  ULARGE_INTEGER v{{t.dwLowDateTime, t.dwHighDateTime}};
  v.QuadPart += static_cast<long long>(days) * 24 * 3600 * 10000000LL;
  return {v.LowPart, v.HighPart};
}

}  // namespace

TestCa::TestCa(const std::string& commonName)
    : commonName_(commonName),
      container_("zvcert-test-ca-" + std::to_string(GetCurrentProcessId())) {
  HCRYPTPROV none = 0;
  CryptAcquireContextA(&none, container_.c_str(), nullptr, PROV_RSA_FULL,
                       CRYPT_SILENT | CRYPT_DELETEKEYSET);
  HCRYPTKEY key = 0;
  if (CryptAcquireContextA(&provider_, container_.c_str(), nullptr, PROV_RSA_FULL,
                           CRYPT_SILENT | CRYPT_NEWKEYSET) &&
      CryptGenKey(provider_, AT_SIGNATURE, 1024 << 16, &key)) {
    CryptDestroyKey(key);
  }
}

TestCa::~TestCa() {
  if (provider_ != 0) CryptReleaseContext(provider_, 0);
  HCRYPTPROV none = 0;
  CryptAcquireContextA(&none, container_.c_str(), nullptr, PROV_RSA_FULL,
                       CRYPT_SILENT | CRYPT_DELETEKEYSET);
}

std::vector<uint8_t> TestCa::Issue(const Subject& subject, const std::vector<uint8_t>& serial,
                                   std::span<const uint8_t> keyBlob) const {
  // The public half as a PUBLICKEYBLOB: header, RSAPUBKEY, modulus.
  const DWORD bits = *reinterpret_cast<const DWORD*>(keyBlob.data() + 12);
  std::vector<uint8_t> publicBlob(keyBlob.begin(), keyBlob.begin() + 20 + bits / 8);
  publicBlob[0] = PUBLICKEYBLOB;
  std::copy_n("RSA1", 4, publicBlob.begin() + 8);
  std::vector<uint8_t> rsaKey = Encode(RSA_CSP_PUBLICKEYBLOB, publicBlob.data());
  static BYTE null[] = {0x05, 0x00};
  CERT_PUBLIC_KEY_INFO key{};
  key.Algorithm.pszObjId = const_cast<char*>(szOID_RSA_RSA);
  key.Algorithm.Parameters = {sizeof null, null};
  key.PublicKey = {static_cast<DWORD>(rsaKey.size()), rsaKey.data(), 0};
  std::vector<uint8_t> subjectName = EncodeName(subject);
  return Sign({static_cast<DWORD>(subjectName.size()), subjectName.data()}, key, serial);
}

std::vector<uint8_t> TestCa::IssueForRequest(const std::string& requestPem,
                                             const std::vector<uint8_t>& serial) const {
  // Taken apart by hand: Wine's decoder refuses requests with BMPString names.
  const std::vector<uint8_t> der = FromPem(requestPem);
  std::vector<uint8_t> name = NameOfRequest(der);
  const std::vector<uint8_t> keyInfo = PublicKeyInfoOfRequest(der);
  CERT_PUBLIC_KEY_INFO* key = nullptr;
  DWORD keySize = 0;
  std::vector<uint8_t> certificate;
  if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, keyInfo.data(), keyInfo.size(),
                          CRYPT_DECODE_ALLOC_FLAG, nullptr, &key, &keySize)) {
    certificate = Sign({static_cast<DWORD>(name.size()), name.data()}, *key, serial);
  }
  LocalFree(key);
  return certificate;
}

std::string TestCa::RootPem() const {
  DWORD size = 0;
  CryptExportPublicKeyInfo(provider_, AT_SIGNATURE, X509_ASN_ENCODING, nullptr, &size);
  std::vector<uint8_t> key(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(key.data());
  if (!CryptExportPublicKeyInfo(provider_, AT_SIGNATURE, X509_ASN_ENCODING, info, &size)) return {};
  std::vector<uint8_t> name = EncodeName({{szOID_COMMON_NAME, commonName_}});
  return ToPem(Sign({static_cast<DWORD>(name.size()), name.data()}, *info, {0x01}));
}

std::vector<uint8_t> TestCa::Sign(const CERT_NAME_BLOB& subject, const CERT_PUBLIC_KEY_INFO& key,
                                  const std::vector<uint8_t>& serial) const {
  std::vector<uint8_t> issuerName = EncodeName({{szOID_COMMON_NAME, commonName_}});
  std::vector<uint8_t> serialLe(serial.rbegin(), serial.rend());

  CERT_INFO info{};
  info.dwVersion = CERT_V1;
  info.SerialNumber = {static_cast<DWORD>(serialLe.size()), serialLe.data()};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
  info.Issuer = {static_cast<DWORD>(issuerName.size()), issuerName.data()};
  info.NotBefore = DaysFromNow(-1);
  info.NotAfter = DaysFromNow(30);
  info.Subject = subject;
  info.SubjectPublicKeyInfo = key;

  CRYPT_ALGORITHM_IDENTIFIER algorithm{};
  algorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
  DWORD size = 0;
  CryptSignAndEncodeCertificate(provider_, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED,
                                &info, &algorithm, nullptr, nullptr, &size);
  std::vector<uint8_t> der(size);
  if (!CryptSignAndEncodeCertificate(provider_, AT_SIGNATURE, X509_ASN_ENCODING,
                                     X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr, der.data(),
                                     &size)) {
    return {};
  }
  der.resize(size);
  return der;
}

std::string PlatformBase64(const std::string& bytes) {
  if (bytes.empty()) return "";
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD size = 0;
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), flags, nullptr,
                       &size);
  std::string text(size, '\0');
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), flags,
                       text.data(), &size);
  text.resize(size);
  return text;
}

std::vector<uint8_t> PlatformFromBase64(const std::string& text) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), text.size(), CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    return {};
  }
  std::vector<uint8_t> bytes(size);
  CryptStringToBinaryA(text.data(), text.size(), CRYPT_STRING_BASE64, bytes.data(), &size, nullptr,
                       nullptr);
  return bytes;
}

std::string Armored(const std::string& label, const std::string& base64) {
  std::string pem = "-----BEGIN " + label + "-----\n";
  for (size_t at = 0; at < base64.size(); at += 64) pem += base64.substr(at, 64) + "\n";
  return pem + "-----END " + label + "-----\n";
}

std::string ToPem(const std::vector<uint8_t>& der) {
  return Armored("CERTIFICATE", PlatformBase64(std::string(der.begin(), der.end())));
}

std::vector<uint8_t> FromPem(const std::string& pem) {
  const size_t begin = pem.find('\n');
  const size_t end = pem.find("-----END");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
  return PlatformFromBase64(pem.substr(begin + 1, end - begin - 1));
}

std::vector<uint8_t> NewKeyBlob() {
  const std::string container = "zvcert-test-key-" + std::to_string(GetCurrentProcessId());
  HCRYPTPROV prov = 0, none = 0;
  CryptAcquireContextA(&none, container.c_str(), nullptr, PROV_RSA_FULL,
                       CRYPT_SILENT | CRYPT_DELETEKEYSET);
  std::vector<uint8_t> blob(2048);
  DWORD size = blob.size();
  HCRYPTKEY key = 0;
  if (CryptAcquireContextA(&prov, container.c_str(), nullptr, PROV_RSA_FULL,
                           CRYPT_SILENT | CRYPT_NEWKEYSET)) {
    if (CryptGenKey(prov, AT_SIGNATURE, (1024 << 16) | CRYPT_EXPORTABLE, &key)) {
      if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) size = 0;
      CryptDestroyKey(key);
    }
    CryptReleaseContext(prov, 0);
  }
  CryptAcquireContextA(&none, container.c_str(), nullptr, PROV_RSA_FULL,
                       CRYPT_SILENT | CRYPT_DELETEKEYSET);
  blob.resize(size);
  return blob;
}

std::optional<KeyLink> KeyLinkOf(PCCERT_CONTEXT certificate) {
  std::vector<BYTE> area(4096);
  DWORD size = area.size();
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, area.data(),
                                         &size)) {
    return std::nullopt;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(area.data());
  return KeyLink{info->pwszContainerName ? info->pwszContainerName : L"",
                 info->pwszProvName ? info->pwszProvName : L"", info->dwProvType, info->dwKeySpec};
}

std::vector<HeldCertificate> PersonalCertificates() {
  std::vector<HeldCertificate> held;
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
  if (store == nullptr) return held;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    const CRYPT_INTEGER_BLOB& serial = c->pCertInfo->SerialNumber;
    std::vector<uint8_t> thumbprint(20);
    DWORD size = thumbprint.size();
    if (!CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, thumbprint.data(), &size)) {
      size = 0;
    }
    thumbprint.resize(size);
    held.push_back({IssuerName(c),
                    CommonName(c, 0),
                    {serial.pbData, serial.pbData + serial.cbData},
                    thumbprint,
                    KeyLinkOf(c)});
  }
  CertCloseStore(store, 0);
  return held;
}

int PurgeIssuer(const std::string& issuer) {
  int removed = 0;
  for (;;) {  // one at a time, each deletion committed before the store is read again
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (store == nullptr) return removed;
    PCCERT_CONTEXT found = CertEnumCertificatesInStore(store, nullptr);
    while (found != nullptr && IssuerName(found) != issuer) {
      found = CertEnumCertificatesInStore(store, found);
    }
    bool deleted = false;
    if (found != nullptr) {
      if (const auto key = KeyLinkOf(found); key && !key->container.empty()) DeleteContainer(*key);
      deleted = CertDeleteCertificateFromStore(found);
      CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    CertCloseStore(store, 0);
    if (!deleted) return removed;
    ++removed;
  }
}

bool ContainerExists(const std::string& name) {
  return ContainerExists(KeyLink{Wide(name), L"", PROV_RSA_FULL, 0});
}

bool ContainerExists(const KeyLink& key) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, key.container.c_str(),
                            key.provider.empty() ? nullptr : key.provider.c_str(), key.type,
                            CRYPT_SILENT)) {
    return false;
  }
  CryptReleaseContext(prov, 0);
  return true;
}

bool DeleteContainer(const KeyLink& key) {
  HCRYPTPROV none = 0;
  return CryptAcquireContextW(&none, key.container.c_str(),
                              key.provider.empty() ? nullptr : key.provider.c_str(), key.type,
                              CRYPT_SILENT | CRYPT_DELETEKEYSET);
}

std::vector<std::string> ContainerNames() {
  std::vector<std::string> names;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return names;
  }
  char name[1024];
  DWORD size = sizeof name;
  for (DWORD flags = CRYPT_FIRST;
       CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags);
       flags = 0, size = sizeof name) {
    names.push_back(name);
  }
  CryptReleaseContext(prov, 0);
  return names;
}

std::string TestCa::IssueForRequest(std::span<const uint8_t> requestDer,
                                    const std::vector<uint8_t>& serial) const {
  const std::string base64 = PlatformBase64(std::string(requestDer.begin(), requestDer.end()));
  return ToPem(IssueForRequest(Armored("CERTIFICATE REQUEST", base64), serial));
}

std::vector<KeyLink> RequestsNamed(std::span<const uint8_t> subject, bool clear) {
  std::vector<KeyLink> found;
  std::vector<PCCERT_CONTEXT> held;
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"REQUEST");
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    const CERT_NAME_BLOB& s = cert->pCertInfo->Subject;
    if (!std::equal(s.pbData, s.pbData + s.cbData, subject.begin(), subject.end())) continue;
    found.push_back(KeyLinkOf(cert).value_or(KeyLink{}));
    held.push_back(CertDuplicateCertificateContext(cert));
  }
  // Deleted only once enumerated: a deletion ends the enumeration's place.
  for (size_t i = 0; i < held.size(); ++i) {
    if (!clear) {
      CertFreeCertificateContext(held[i]);
      continue;
    }
    if (!found[i].container.empty()) DeleteContainer(found[i]);
    CertDeleteCertificateFromStore(held[i]);
  }
  CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(store, 0);
  return found;
}

}  // namespace zvcert::testing
