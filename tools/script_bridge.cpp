// Lets a program outside Wine script the plug-in as a page would: it loads
// npzvcert.dll through the test browser, keeps one instance and its object,
// and answers one request line at a time on standard input and output.
//
// Requests (fields separated by a tab, one request a line):
//   call <member> <value>...   a method call      -> ok <1|0> <value>
//   get <property>             a property read    -> ok <1|0> <value>
//   has <member>               member recognition -> has <method 1|0> <property 1|0>
//   store                      the certificates in "MY", then a line "end":
//       cert <serial, big-endian hex> <issuer CN> <subject CN> <container>
//            <provider> <provider type> <key spec> <container exists 1|0>
//   purge <issuer CN, Base64>  deletes every certificate from that issuer in
//                              "MY" and the key containers they name
//                              -> purged <count>
//   quit
// Values: v (void), n (null), b:1 or b:0, i:<integer>, d:<number>,
// s:<Base64 of the UTF-8 bytes>. Texts in "cert" lines are Base64 as well.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "browser/test_browser.h"
#include "support/test_ca.h"

namespace {

using namespace testbrowser;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string ToBase64(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? static_cast<uint8_t>(bytes[i + 2]) : 0);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string FromBase64(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const char* at = std::strchr(kAlphabet, c);
    if (c == '=' || at == nullptr || c == '\0') continue;
    bits = (bits << 6) | static_cast<uint32_t>(at - kAlphabet);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

Value ParseValue(const std::string& field) {
  if (field == "n") return nullptr;
  if (field.rfind("b:", 0) == 0) return field == "b:1";
  if (field.rfind("i:", 0) == 0) return static_cast<int32_t>(std::stol(field.substr(2)));
  if (field.rfind("d:", 0) == 0) return std::stod(field.substr(2));
  if (field.rfind("s:", 0) == 0) return FromBase64(field.substr(2));
  return std::monostate{};
}

std::string FormatValue(const Value& value) {
  if (std::holds_alternative<std::nullptr_t>(value)) return "n";
  if (const bool* b = std::get_if<bool>(&value)) return *b ? "b:1" : "b:0";
  if (const int32_t* i = std::get_if<int32_t>(&value)) return "i:" + std::to_string(*i);
  if (const double* d = std::get_if<double>(&value)) return "d:" + std::to_string(*d);
  if (const std::string* s = std::get_if<std::string>(&value)) return "s:" + ToBase64(*s);
  return "v";
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

std::string NameOf(PCCERT_CONTEXT cert, DWORD flags) {
  char name[512] = {};
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>("2.5.4.3"), name,
                     sizeof name);
  return name;
}

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "";
  char out[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
  return out;
}

// Lists "MY" from a store handle of its own, as another program would see it.
void ListStore() {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  for (PCCERT_CONTEXT c = store ? CertEnumCertificatesInStore(store, nullptr) : nullptr;
       c != nullptr; c = CertEnumCertificatesInStore(store, c)) {
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
      container = Narrow(info->pwszContainerName);
      provider = Narrow(info->pwszProvName);
      type = info->dwProvType;
      spec = info->dwKeySpec;
      HCRYPTPROV prov = 0;
      exists = CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName, type,
                                    CRYPT_SILENT);
      if (exists) CryptReleaseContext(prov, 0);
    }
    std::cout << "cert\t" << serial << '\t' << ToBase64(NameOf(c, CERT_NAME_ISSUER_FLAG)) << '\t'
              << ToBase64(NameOf(c, 0)) << '\t' << ToBase64(container) << '\t' << ToBase64(provider)
              << '\t' << type << '\t' << spec << '\t' << (exists ? 1 : 0) << '\n';
  }
  if (store != nullptr) CertCloseStore(store, 0);
  std::cout << "end" << std::endl;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring path = argc > 1 ? argv[1] : DefaultPluginPath();
  Browser browser(path);
  if (!browser.loaded() || browser.Start() != NPERR_NO_ERROR) {
    std::cout << "error\tcannot load the plug-in" << std::endl;
    return 1;
  }
  auto instance = browser.NewInstance();
  auto object = instance->GetScriptableObject();
  if (object == nullptr) {
    std::cout << "error\tno scriptable object" << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = Split(line);
    if (f.empty()) continue;
    if (f[0] == "quit") break;
    if (f[0] == "call" && f.size() >= 2) {
      std::vector<Value> args;
      for (size_t i = 2; i < f.size(); ++i) args.push_back(ParseValue(f[i]));
      const CallResult r = object->Invoke(f[1], args);
      std::cout << "ok\t" << (r.ok ? 1 : 0) << '\t' << FormatValue(r.value) << std::endl;
    } else if (f[0] == "get" && f.size() >= 2) {
      const CallResult r = object->GetProperty(f[1]);
      std::cout << "ok\t" << (r.ok ? 1 : 0) << '\t' << FormatValue(r.value) << std::endl;
    } else if (f[0] == "has" && f.size() >= 2) {
      std::cout << "has\t" << object->HasMethod(f[1]) << '\t' << object->HasProperty(f[1])
                << std::endl;
    } else if (f[0] == "store") {
      ListStore();
    } else if (f[0] == "purge" && f.size() >= 2) {
      std::cout << "purged\t" << zvcert::testing::PurgeIssuer(FromBase64(f[1])) << std::endl;
    } else {
      std::cout << "error\tunknown request" << std::endl;
    }
  }
  object.reset();
  instance->Destroy();
  // What a browser would notice: routines the plug-in must not call, misuse.
  const bool clean = Browser::UnexpectedCalls().empty() && Browser::Errors().empty() &&
                     Browser::OutstandingAllocations() == 0 && Browser::LiveObjects() == 0;
  return clean ? 0 : 2;
}
