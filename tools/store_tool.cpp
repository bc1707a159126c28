// The user's "MY" store as another program sees it, for the Node tests
// (tools/node/store.js); it never loads the plug-in.
//
//   zvcert-store list            a JSON array, one object per certificate:
//       serial (big-endian hex, as stored), issuer and subject (common names),
//       container, provider, providerType, keySpec, containerExists
//   zvcert-store purge <issuer>  deletes every certificate whose issuer common
//                                name is <issuer> and the key containers they
//                                name; prints how many went
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/json.h"
#include "support/test_ca.h"

namespace {

using zvhost::json::Quote;

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

std::string CommonName(PCCERT_CONTEXT cert, DWORD flags) {
  wchar_t name[512] = {};
  CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(szOID_COMMON_NAME), name,
                     512);
  return Utf8(name);
}

std::string Describe(PCCERT_CONTEXT c) {
  std::string serial;
  const CRYPT_INTEGER_BLOB& s = c->pCertInfo->SerialNumber;
  for (DWORD i = s.cbData; i-- > 0;) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", s.pbData[i]);
    serial += hex;
  }
  std::vector<BYTE> area(4096);
  DWORD size = area.size();
  std::string container, provider;
  DWORD type = 0, spec = 0;
  bool exists = false;
  if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, area.data(), &size)) {
    const auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(area.data());
    container = Utf8(info->pwszContainerName);
    provider = Utf8(info->pwszProvName);
    type = info->dwProvType;
    spec = info->dwKeySpec;
    HCRYPTPROV prov = 0;
    exists = CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName, type,
                                  CRYPT_SILENT);
    if (exists) CryptReleaseContext(prov, 0);
  }
  return "{\"serial\":" + Quote(serial) +
         ",\"issuer\":" + Quote(CommonName(c, CERT_NAME_ISSUER_FLAG)) +
         ",\"subject\":" + Quote(CommonName(c, 0)) + ",\"container\":" + Quote(container) +
         ",\"provider\":" + Quote(provider) + ",\"providerType\":" + std::to_string(type) +
         ",\"keySpec\":" + std::to_string(spec) +
         ",\"containerExists\":" + (exists ? "true" : "false") + "}";
}

int List() {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  if (store == nullptr) return 1;
  std::string out = "[";
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    out += (out.size() > 1 ? ",\n" : "") + Describe(c);
  }
  CertCloseStore(store, 0);
  std::printf("%s]\n", out.c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"list" && argc == 2) return List();
  if (command == L"purge" && argc == 3) {
    std::printf("%d\n", zvcert::testing::PurgeIssuer(Utf8(argv[2])));
    return 0;
  }
  std::fputs("usage: zvcert-store list | purge <issuer common name>\n", stderr);
  return 2;
}
