// What page script can throw at the ten methods, through the built DLL:
// missing and non-string arguments, empty strings, zero bytes, megabyte
// strings and text that is not UTF-8. Whatever comes in, the call ends with
// the documented result, the browser's memory and objects are handed back,
// and a request can still be made afterwards.
#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "browser/plugin_test.h"
#include "npapi/members.h"
#include "support/request_checks.h"
#include "support/test_ca.h"

namespace testbrowser {
namespace {

using namespace std::string_literals;

// Every method of the members' list, with the strings it requires.
struct Method {
  std::string name;
  uint32_t requiredStrings;
};
const std::vector<Method> kMethods = [] {
  std::vector<Method> methods;
  for (const zvcert::MemberInfo& m : zvcert::kMembers) {
    if (m.kind == zvcert::MemberKind::Method) methods.push_back({std::string(m.name), m.strings});
  }
  return methods;
}();

// Serial text of no certificate anywhere: it reads as serial 0.
const std::string kNoSerial = "";

// A value for messages: long text cut, bytes outside ASCII escaped.
std::string Shown(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "void";
  if (const int32_t* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
  if (!std::holds_alternative<std::string>(value)) return ToString(value);
  const std::string& text = std::get<std::string>(value);
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < 48; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char digits[] = "0123456789ABCDEF";
      out += "\\x"s + digits[c >> 4] + digits[c & 15];
    }
  }
  out += "\"";
  if (text.size() > 48) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string Shown(const std::vector<Value>& args) {
  std::string out = "(";
  for (size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + Shown(args[i]);
  return out + ")";
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// A PEM request read by the platform's own decoder, independent of the
// plug-in: the Name's and the attributes' values by object identifier, and
// whether the signature verifies with the key the request carries.
struct ReadRequest {
  std::string problem;  // what could not be read, for messages
  bool read = false;
  bool verified = false;
  std::map<std::string, std::wstring> subject;
  std::map<std::string, std::wstring> attributes;
};

template <typename T>
T* Decode(LPCSTR type, const BYTE* der, DWORD size) {
  T* decoded = nullptr;
  DWORD length = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, der, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &decoded, &length)) {
    return nullptr;
  }
  return decoded;
}

// Wine's decoder counts a terminating zero into UTF8String values.
std::wstring WideValue(const CERT_RDN_VALUE_BLOB& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.pbData), value.cbData / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

ReadRequest ReadPemRequest(const std::string& pem) {
  ReadRequest out;
  if (pem.rfind("-----BEGIN CERTIFICATE REQUEST-----\n", 0) != 0 ||
      !pem.ends_with("\n-----END CERTIFICATE REQUEST-----\n")) {
    out.problem = "armour";
    return out;
  }
  const std::vector<BYTE> der = zvcert::testing::FromPem(pem);
  const auto request = zvcert::testing::DerParts(der);
  // The request info's parts, in order: version, subject, key, attributes.
  std::vector<std::vector<BYTE>> parts;
  for (const auto part : request.empty() ? request : zvcert::testing::DerParts(request[0])) {
    parts.emplace_back(part.begin(), part.end());
  }
  if (parts.size() != 4 || parts[3][0] != 0xA0) {
    out.problem = "request info";
    return out;
  }
  if (auto* key =
          Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, parts[2].data(), parts[2].size())) {
    out.verified =
        CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, der.data(), der.size(), key);
    LocalFree(key);
  }
  if (auto* name = Decode<CERT_NAME_INFO>(X509_UNICODE_NAME, parts[1].data(), parts[1].size())) {
    for (DWORD i = 0; i < name->cRDN; ++i) {
      for (DWORD j = 0; j < name->rgRDN[i].cRDNAttr; ++j) {
        const CERT_RDN_ATTR& attr = name->rgRDN[i].rgRDNAttr[j];
        out.subject[attr.pszObjId] = WideValue(attr.Value);
      }
    }
    LocalFree(name);
    out.read = true;
  } else {
    out.problem = "subject " + std::to_string(GetLastError());
  }
  parts[3][0] = 0x31;  // [0] IMPLICIT SET OF Attribute, read as the SET it is
  if (auto* attributes =
          Decode<CRYPT_ATTRIBUTES>(PKCS_ATTRIBUTES, parts[3].data(), parts[3].size())) {
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
      const CRYPT_ATTRIBUTE& attr = attributes->rgAttr[i];
      if (attr.cValue != 1) continue;
      if (auto* value = Decode<CERT_NAME_VALUE>(X509_UNICODE_ANY_STRING, attr.rgValue[0].pbData,
                                                attr.rgValue[0].cbData)) {
        out.attributes[attr.pszObjId] = WideValue(value->Value);
        LocalFree(value);
      } else {
        out.problem += std::string(" attribute ") + attr.pszObjId + " not read (" +
                       std::to_string(GetLastError()) + ")";
      }
    }
    LocalFree(attributes);
  } else {
    out.read = false;
    out.problem = "attributes " + std::to_string(GetLastError());
  }
  return out;
}

// prefix, then at least `replaced` U+FFFD and nothing else, then suffix:
// bytes that are not UTF-8 were replaced, and nothing around them was lost.
bool ReplacedBetween(const std::wstring& value, const std::wstring& prefix, size_t replaced,
                     const std::wstring& suffix) {
  if (value.size() < prefix.size() + replaced + suffix.size()) return false;
  if (value.compare(0, prefix.size(), prefix) != 0) return false;
  if (value.compare(value.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  return std::all_of(value.begin() + prefix.size(), value.end() - suffix.size(),
                     [](wchar_t c) { return c == 0xFFFD; });
}

// UTF-16 units in hexadecimal, for messages.
std::string Units(const std::wstring& text) {
  std::string out;
  char unit[8];
  for (const wchar_t c : text) {
    snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
    out += unit;
  }
  return out.empty() ? "(none)" : out;
}

class BadInput : public ObjectTest {
 protected:
  void TearDown() override {
    // The page goes away: every object and every byte of browser memory
    // must come back.
    object.reset();
    instance->Destroy();
    ExpectNothingLeft();
    ObjectTest::TearDown();
  }

  // One call, checked for what holds after any call: the result handed
  // back in full, the page's object neither retained nor released.
  CallResult Checked(const std::string& method, const std::vector<Value>& args) {
    const int references = Browser::ObjectReferences(object->get());
    const CallResult r = Call(method, args);
    EXPECT_EQ(Browser::OutstandingAllocations(), 0u) << method << Shown(args);
    EXPECT_EQ(Browser::ObjectReferences(object->get()), references) << method << Shown(args);
    return r;
  }

  void ExpectCall(const std::string& method, const std::vector<Value>& args, bool ok,
                  const Value& value, const std::string& what = "") {
    const CallResult r = Checked(method, args);
    const std::string call = what + (what.empty() ? "" : ": ") + method + Shown(args);
    EXPECT_EQ(r.ok, ok) << call;
    EXPECT_TRUE(r.resultWritten) << call;
    EXPECT_TRUE(r.value == value) << call << " gave " << Shown(r.value) << ", not " << Shown(value);
  }

  ReadRequest MakeRequest(const std::string& what) {
    const CallResult r = Checked("GetCSR", {});
    EXPECT_TRUE(r.ok) << what;
    const std::string* pem = std::get_if<std::string>(&r.value);
    if (pem == nullptr) {
      ADD_FAILURE() << what << ": GetCSR gave " << Shown(r.value);
      return {};
    }
    ReadRequest request = ReadPemRequest(*pem);
    EXPECT_TRUE(request.read) << what << ": not a PEM request (" << request.problem
                              << "): " << Shown(r.value);
    EXPECT_TRUE(request.verified) << what;
    return request;
  }
};

constexpr char kCn[] = "2.5.4.3";
constexpr char kO[] = "2.5.4.10";
constexpr char kUnstructuredName[] = "1.2.840.113549.1.9.2";
constexpr char kChallengePassword[] = "1.2.840.113549.1.9.7";

TEST_F(BadInput, WithTooFewArgumentsOnlyGetCsrSucceeds) {
  for (const Method& m : kMethods) {
    if (m.requiredStrings == 0) MakeRequest(m.name);
    // None, or good strings short of the number required.
    for (uint32_t given = 0; given < m.requiredStrings; ++given) {
      ExpectCall(m.name, std::vector<Value>(given, "CN"s), false, Value{});
    }
  }
}

TEST_F(BadInput, EachRequiredArgumentOfAnyOtherTypeFailsTheCall) {
  const Value wrongTypes[] = {int32_t{0}, int32_t{-1}, 12.0,    -0.5,         true,
                              false,      nullptr,     Value{}, object->get()};
  for (const Method& m : kMethods) {
    for (uint32_t position = 0; position < m.requiredStrings; ++position) {
      for (const Value& wrong : wrongTypes) {
        // Given "CN" in that place, every method answers with a value, so
        // a void result shows the type was refused.
        std::vector<Value> args(m.requiredStrings, "CN"s);
        args[position] = wrong;
        ExpectCall(m.name, args, false, Value{});
        if (position + 1 < m.requiredStrings) {
          // Cut short after the wrong one: still refused, nothing read beyond.
          args.resize(position + 1);
          ExpectCall(m.name, args, false, Value{});
        }
      }
    }
  }
}

TEST_F(BadInput, EmptyStringsGiveTheDocumentedResults) {
  struct Case {
    std::string method;
    std::vector<Value> args;
    bool ok;
    Value result;
  };
  const Case cases[] = {
      {"FindCert", {""s, ""s}, false, Value{}},  // no such attribute
      {"FindCert", {""s, "Alice"s}, false, Value{}},
      {"FindCert", {"CN"s, ""s}, true, ""s},
      {"IsCertExist", {""s}, true, int32_t{0}},
      {"DelCert", {""s}, true, int32_t{0}},
      {"ImportCert", {""s}, false, int32_t{-1}},
      {"CertSign", {""s, ""s}, false, ""s},  // nothing to sign with
      {"CertSign", {""s, "Zm9v"s}, false, ""s},
      {"SetSubject", {""s}, true, int32_t{1}},
      {"SetChallenge", {""s, ""s}, true, int32_t{1}},
      {"Base64Encode", {""s}, true, ""s},
      {"Base64Decode", {""s}, true, ""s},
  };
  for (const Case& c : cases) ExpectCall(c.method, c.args, c.ok, c.result);
  // Every value missing, both challenge attributes empty: still a request.
  ReadRequest request = MakeRequest("empty subject and challenge");
  EXPECT_EQ(request.subject[kCn], L"XX");
  EXPECT_EQ(request.subject[kO], L"XX");
  EXPECT_EQ(request.attributes[kUnstructuredName], L"");
  EXPECT_EQ(request.attributes[kChallengePassword], L"");
}

TEST_F(BadInput, ZeroBytesInsideStrings) {
  struct Case {
    std::string method;
    std::vector<Value> args;
    bool ok;
    Value result;
  };
  const Case cases[] = {
      {"Base64Encode", {"\0"s}, true, "AA=="s},
      {"Base64Encode", {"\0\0\0\0"s}, true, "AAAAAA=="s},
      {"Base64Encode", {"ab\0"s}, true, "YWIA"s},
      {"Base64Decode", {"AAAA"s}, true, ""s},        // 00 00 00: ends at once
      {"Base64Decode", {"YWIAYw=="s}, true, "ab"s},  // 61 62 00 63
      {"Base64Decode", {"Zm9v\0\0\0\0"s}, false, ""s},
      {"Base64Decode", {"\0Zm9"s}, false, ""s},
      {"IsCertExist", {"\0"s}, true, int32_t{0}},
      {"DelCert", {"\0"s}, true, int32_t{0}},
      {"ImportCert", {"\0"s}, false, int32_t{-1}},
      {"ImportCert", {"\0-----BEGIN CERTIFICATE-----\n"s}, false, int32_t{-1}},
      {"CertSign", {kNoSerial, "Zm9v\0\0\0\0"s}, false, ""s},
      {"FindCert", {"\0"s, "x"s}, false, Value{}},
      {"SetSubject", {"\0CN=Hidden"s}, true, int32_t{1}},
      {"SetChallenge", {"\0hidden"s, "\0"s}, true, int32_t{1}},
  };
  for (const Case& c : cases) ExpectCall(c.method, c.args, c.ok, c.result);
  // Text after a leading zero byte is not part of the subject.
  ReadRequest request = MakeRequest("subject and challenge behind a zero byte");
  EXPECT_EQ(request.subject[kCn], L"XX");
  EXPECT_EQ(request.attributes[kUnstructuredName], L"");
}

TEST_F(BadInput, MegabyteStringsInEveryArgumentOnA1MiBStack) {
  struct Case {
    std::string method;
    std::vector<Value> args;
    bool ok;
    Value result;
  };
  for (const size_t size : {size_t{1} << 20, size_t{16} << 20}) {
    const std::string as(size, 'A');      // Base64 of zero bytes
    const std::string qs(size, 'Q');      // Base64 of 41 04 10 ...
    const std::string nines(size, '9');   // a serial far beyond 64 bits
    const std::string commas(size, ',');  // every value empty
    const Case cases[] = {
        {"FindCert", {as, "x"s}, false, Value{}},
        {"FindCert", {"CN"s, as}, true, ""s},
        {"IsCertExist", {nines}, true, int32_t{0}},
        {"IsCertExist", {as}, true, int32_t{0}},
        {"DelCert", {nines}, true, int32_t{0}},
        {"ImportCert", {as}, false, int32_t{-1}},
        {"ImportCert",
         {"-----BEGIN CERTIFICATE-----\n" + as + "\n-----END CERTIFICATE-----\n"},
         false,
         int32_t{-1}},
        {"CertSign", {nines, "Zm9v"s}, false, ""s},
        {"CertSign", {kNoSerial, as}, false, ""s},
        {"CertSign", {kNoSerial, qs + "!"}, false, ""s},
        {"SetChallenge", {qs, as}, true, int32_t{1}},
        {"Base64Encode", {as}, true, Repeat("QUFB", size / 3) + "QQ=="},
        {"Base64Decode", {qs}, true, Repeat("A\x04\x10", size / 4)},
        {"Base64Decode", {as}, true, ""s},
        {"Base64Decode", {qs + "!"}, false, ""s},
        {"Base64Decode", {qs.substr(1)}, false, ""s},
        {"SetSubject", {commas}, true, int32_t{1}},
    };
    for (const Case& c : cases) {
      ExpectCall(c.method, c.args, c.ok, c.result, std::to_string(size >> 20) + " MiB");
    }
  }
  ReadRequest request = MakeRequest("16 MiB subject and challenge");
  EXPECT_EQ(request.subject[kCn], L"XX");
  EXPECT_EQ(request.attributes[kUnstructuredName], std::wstring(31, L'Q'));
  EXPECT_EQ(request.attributes[kChallengePassword], std::wstring(31, L'A'));
}

TEST_F(BadInput, TextThatIsNotUtf8InEveryStringArgument) {
  struct Case {
    std::string method;
    std::vector<Value> args;
    bool ok;
    Value result;
  };
  for (const auto& [what, bad] : kNotUtf8) {
    const Case cases[] = {
        {"FindCert", {bad, "x"s}, false, Value{}},
        {"FindCert", {"C" + bad, "x"s}, false, Value{}},
        {"FindCert", {"CN"s, bad}, true, ""s},
        {"IsCertExist", {bad}, true, int32_t{0}},
        {"DelCert", {bad}, true, int32_t{0}},
        {"ImportCert", {bad}, false, int32_t{-1}},
        {"CertSign", {bad, "Zm9v"s}, false, ""s},
        {"CertSign", {kNoSerial, bad}, false, ""s},
        {"CertSign", {kNoSerial, "Zm9v" + bad}, false, ""s},
        {"SetSubject", {bad}, true, int32_t{1}},
        {"SetChallenge", {bad, "x"s}, true, int32_t{1}},
        {"SetChallenge", {"x"s, bad}, true, int32_t{1}},
        {"Base64Encode", {bad}, true, zvcert::testing::PlatformBase64(bad)},
        {"Base64Encode", {"a" + bad + "b"}, true, zvcert::testing::PlatformBase64("a" + bad + "b")},
        {"Base64Decode", {bad}, false, ""s},
        {"Base64Decode", {"Zm9v" + bad}, false, ""s},
    };
    for (const Case& c : cases) ExpectCall(c.method, c.args, c.ok, c.result, what);
  }
}

TEST_F(BadInput, ARequestIsStillMadeFromASubjectOrChallengeThatIsNotUtf8) {
  for (const auto& [what, bad] : kNotUtf8) {
    ExpectCall("SetSubject", {"C=CN, O=Good, CN=" + bad + "z, E=" + bad}, true, int32_t{1}, what);
    ExpectCall("SetChallenge", {"n" + bad, bad + "p"}, true, int32_t{1}, what);
    ReadRequest request = MakeRequest(what);
    EXPECT_EQ(request.subject[kO], L"Good") << what;
    EXPECT_TRUE(ReplacedBetween(request.subject[kCn], L"", 1, L"z"))
        << what << ": " << Units(request.subject[kCn]);
    EXPECT_TRUE(ReplacedBetween(request.attributes[kUnstructuredName], L"n", 1, L""))
        << what << ": " << Units(request.attributes[kUnstructuredName]) << request.problem;
    EXPECT_TRUE(ReplacedBetween(request.attributes[kChallengePassword], L"", 1, L"p"))
        << what << ": " << Units(request.attributes[kChallengePassword]);
  }
  // A character cut by the 31-byte limit of a challenge attribute.
  ExpectCall("SetChallenge", {std::string(30, 'n') + "\xE5\xBC\xA0", "p"s}, true, int32_t{1});
  ReadRequest request = MakeRequest("challenge cut inside a character");
  EXPECT_TRUE(
      ReplacedBetween(request.attributes[kUnstructuredName], std::wstring(30, L'n'), 0, L""))
      << "the cut character is replaced or dropped, nothing else: "
      << Units(request.attributes[kUnstructuredName]);
}

}  // namespace
}  // namespace testbrowser
