// The user's "MY" store as another program sees it, for the Node tests
// (tools/node/store.js); it never loads the plug-in.
//
//   zvcert-store list            a JSON array, one object per certificate:
//       serial (big-endian hex, as stored), issuer and subject (common names),
//       container, provider, providerType, keySpec, containerExists
//   zvcert-store purge <issuer>  deletes every certificate whose issuer common
//                                name is <issuer> and the key containers they
//                                name; prints how many went
//   zvcert-store purge-pending   deletes the plug-in's pending requests in
//                                "REQUEST" and their key containers, so that a
//                                test starts from none; prints how many went
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/json.h"
#include "store/pending.h"
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

std::string Describe(const zvcert::testing::HeldCertificate& c) {
  std::string serial;
  for (size_t i = c.serial.size(); i-- > 0;) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", c.serial[i]);
    serial += hex;
  }
  const zvcert::testing::KeyLink key = c.key.value_or(zvcert::testing::KeyLink{});
  const bool exists = c.key && zvcert::testing::ContainerExists(key);
  return "{\"serial\":" + Quote(serial) + ",\"issuer\":" + Quote(c.issuer) +
         ",\"subject\":" + Quote(c.subject) +
         ",\"container\":" + Quote(Utf8(key.container.c_str())) +
         ",\"provider\":" + Quote(Utf8(key.provider.c_str())) +
         ",\"providerType\":" + std::to_string(key.type) +
         ",\"keySpec\":" + std::to_string(key.spec) +
         ",\"containerExists\":" + (exists ? "true" : "false") + "}";
}

int List() {
  std::string out = "[";
  for (const auto& c : zvcert::testing::PersonalCertificates()) {
    out += (out.size() > 1 ? ",\n" : "") + Describe(c);
  }
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
  if (command == L"purge-pending" && argc == 2) {
    std::printf("%zu\n",
                zvcert::testing::RequestsNamed(zvcert::kPendingRequestSubject, true).size());
    return 0;
  }
  std::fputs("usage: zvcert-store list | purge <issuer common name> | purge-pending\n", stderr);
  return 2;
}
