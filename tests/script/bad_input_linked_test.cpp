// Bad input with the plug-in linked in, where its fields and the user's store
// can be seen: malformed PEM with a key pending, serial texts that are not
// plain numbers, Base64 in lines, and calls that must leave everything as it
// was. The authority's root in this program is "ZV Test Other Root".
#include <algorithm>
#include <string>
#include <vector>

#include "script/scriptable_object.h"
#include "support/hex.h"
#include "support/linked_plugin_test.h"
#include "support/request_checks.h"
#include "support/test_ca.h"

namespace zvcert {
namespace {

using namespace std::string_literals;
using testbrowser::CallResult;
using testbrowser::kNotUtf8;
using testbrowser::Value;
using testing::Field;
using testing::Op;

constexpr char kRoot[] = "ZV Test Other Root";

// Every certificate in "MY" with the container it names, and every key
// container of the default provider: what an import or a deletion changes.
std::string StoreContents() {
  std::vector<std::string> lines;
  for (const testing::HeldCertificate& c : testing::PersonalCertificates()) {
    lines.push_back("certificate " + testing::ToHex(c.thumbprint));
    if (c.key) {
      lines.back() += " key " + std::string(c.key->container.begin(), c.key->container.end());
    }
  }
  for (const std::string& name : testing::ContainerNames()) lines.push_back("container " + name);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// DER of a length and of an INTEGER given most significant byte first.
std::vector<uint8_t> DerElement(uint8_t tag, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::vector<uint8_t> DerInteger(std::vector<uint8_t> bigEndian) {
  while (bigEndian.size() > 1 && bigEndian[0] == 0 && bigEndian[1] < 0x80) {
    bigEndian.erase(bigEndian.begin());
  }
  if (bigEndian.empty() || bigEndian[0] >= 0x80) bigEndian.insert(bigEndian.begin(), 0);
  return DerElement(0x02, bigEndian);
}

// The PKCS #1 RSAPrivateKey of a PRIVATEKEYBLOB: what a "RSA PRIVATE KEY"
// PEM holds.
std::vector<uint8_t> RsaPrivateKeyDer(std::span<const uint8_t> blob) {
  const uint32_t bits = blob[12] | (blob[13] << 8) | (blob[14] << 16) | (blob[15] << 24);
  const size_t n = bits / 8, half = n / 2;
  size_t at = 20;
  const auto next = [&](size_t size) {
    std::vector<uint8_t> bigEndian(blob.begin() + at, blob.begin() + at + size);
    std::reverse(bigEndian.begin(), bigEndian.end());
    at += size;
    return DerInteger(bigEndian);
  };
  const std::vector<uint8_t> modulus = next(n), p = next(half), q = next(half), dp = next(half),
                             dq = next(half), qinv = next(half), d = next(n);
  std::vector<uint8_t> exponent(blob.begin() + 16, blob.begin() + 20);
  std::reverse(exponent.begin(), exponent.end());
  std::vector<uint8_t> content = DerInteger({0});
  for (const auto& part : {modulus, DerInteger(exponent), d, p, q, dp, dq, qinv}) {
    content.insert(content.end(), part.begin(), part.end());
  }
  return DerElement(0x30, content);
}

std::string WithoutLineFeeds(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The object's fields as script can change them.
struct Fields {
  std::string subject, unstructuredName, challengePassword, rootIssuerName;
  std::vector<uint8_t> pendingKey;
  int32_t pendingKeyLength;
  bool operator==(const Fields&) const = default;
};

void PrintTo(const Fields& f, std::ostream* os) {
  *os << "subject " << f.subject.size() << " bytes, name \"" << f.unstructuredName
      << "\", password \"" << f.challengePassword << "\", root \"" << f.rootIssuerName
      << "\", key of " << f.pendingKeyLength;
}

class BadInputLinked : public testing::LinkedPluginTest {
 protected:
  void SetUp() override {
    testing::PurgeIssuer(kRoot);
    LinkedPluginTest::SetUp();
    ASSERT_NE(StoreContents().find("container zvcert-test-ca-"), std::string::npos)
        << "key containers cannot be listed: " << StoreContents();
  }
  void TearDown() override {
    EXPECT_EQ(testbrowser::Browser::OutstandingAllocations(), 0u);
    LinkedPluginTest::TearDown();
    testing::PurgeIssuer(kRoot);
  }

  Fields Now() const {
    const int32_t length = std::clamp<int32_t>(state->pendingKeyLength, 0, 2048);
    return {Field(state->subjectText),
            Field(state->unstructuredName),
            Field(state->challengePassword),
            Field(state->rootIssuerName),
            {state->pendingKeyBlob.begin(), state->pendingKeyBlob.begin() + length},
            state->pendingKeyLength};
  }

  // A request made by the object; its PEM text.
  std::string Request() {
    const CallResult r = Call("GetCSR");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(state->pendingKeyLength, 596);
    return Text(r);
  }

  // The certificate the CA issues for the pending key, stored through the
  // object; its DER.
  std::vector<uint8_t> Imported(const std::vector<uint8_t>& serial,
                                const testing::Subject& subject) {
    Request();
    const std::vector<uint8_t> der = ca.Issue(subject, serial, PendingKey());
    const CallResult r = Call("ImportCert", {testing::ToPem(der)});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.value, Value{int32_t{1}});
    return der;
  }

  testing::TestCa ca{kRoot};
};

TEST_F(BadInputLinked, RefusedAndFailedCallsLeaveTheObjectAndTheStoreAlone) {
  Request();  // a key to keep
  ASSERT_TRUE(Call("SetSubject", {"C=CN, CN=Kept"s}).ok);
  ASSERT_TRUE(Call("SetChallenge", {"kept name"s, "kept password"s}).ok);
  const Fields before = Now();
  const std::string store = StoreContents();

  const Value wrongTypes[] = {int32_t{3}, 2.5, true, nullptr, Value{}, object->get()};
  std::vector<std::pair<std::string, std::vector<Value>>> calls;
  for (const char* method :
       {"SetSubject", "ImportCert", "IsCertExist", "DelCert", "Base64Encode", "Base64Decode"}) {
    calls.push_back({method, {}});
    for (const Value& wrong : wrongTypes) calls.push_back({method, {wrong}});
  }
  for (const char* method : {"SetChallenge", "FindCert", "CertSign"}) {
    calls.push_back({method, {}});
    calls.push_back({method, {"CN"s}});
    for (const Value& wrong : wrongTypes) {
      calls.push_back({method, {wrong, "CN"s}});
      calls.push_back({method, {"CN"s, wrong}});
    }
  }
  const std::string big(1 << 20, '7');
  for (const std::string& text : {""s, "\0"s, "-12"s, " 12"s, std::string(100, '9'), big}) {
    calls.push_back({"ImportCert", {text}});
    calls.push_back({"IsCertExist", {text}});
    calls.push_back({"DelCert", {text}});
    calls.push_back({"CertSign", {text, "Zm9v"s}});
    calls.push_back({"CertSign", {"1"s, "Zm9v\n" + text}});
    calls.push_back({"FindCert", {text, "x"s}});
    calls.push_back({"FindCert", {"CN"s, text}});
    calls.push_back({"Base64Encode", {text}});
    calls.push_back({"Base64Decode", {text}});
  }
  for (const auto& [what, bad] : kNotUtf8) {
    for (const std::string& method : {"ImportCert"s, "IsCertExist"s, "DelCert"s, "Base64Decode"s}) {
      calls.push_back({method, {bad}});
    }
    calls.push_back({"FindCert", {"CN"s, bad}});
    calls.push_back({"CertSign", {bad, bad}});
  }

  for (const auto& [method, args] : calls) {
    Call(method, args);
    ASSERT_EQ(Now(), before) << method << " with " << args.size() << " arguments, the first "
                             << (args.empty() ? "none"
                                              : testbrowser::ToString(args[0]).substr(0, 20));
  }
  EXPECT_EQ(StoreContents(), store);
}

TEST_F(BadInputLinked, MalformedPemLeavesTheKeyPendingAndTheStoreAlone) {
  const std::string request = Request();
  const std::vector<uint8_t> der = ca.Issue({{"2.5.4.3", "Alice"}}, {0x21}, PendingKey());
  const std::string mine = testing::ToPem(der);
  const std::string header = "-----BEGIN CERTIFICATE-----\n";
  const std::string footer = "-----END CERTIFICATE-----\n";
  ASSERT_EQ(mine.rfind(header, 0), 0u);
  ASSERT_EQ(mine.substr(mine.size() - footer.size()), footer);
  const std::string body = mine.substr(header.size(), mine.size() - header.size() - footer.size());
  ASSERT_GT(body.size(), 4 * 65u);
  const size_t middle = header.size() + 2 * 65 + 10;  // inside the third line of 64
  const auto with = [&](const std::string& text) {
    return mine.substr(0, middle) + text + mine.substr(middle + 1);
  };
  const std::string requestBody = WithoutLineFeeds(request.substr(36, request.size() - 36 - 34));
  const std::vector<uint8_t> key = RsaPrivateKeyDer(PendingKey());
  const std::string keyBase64 = testing::PlatformBase64(std::string(key.begin(), key.end()));

  std::string manyLines = header;
  for (int i = 0; i < 10000; ++i) manyLines += "QUFB\n";
  manyLines += footer;
  std::string spreadOut = header;  // the body's lines among blank ones
  for (size_t at = 0; at < body.size(); at += 65) {
    spreadOut += body.substr(at, 65) + std::string(10000 / (body.size() / 65 + 1), '\n');
  }
  spreadOut += footer;

  // The right key's certificate, too long: an organisational unit of 6000 bytes.
  const std::string tooLong = testing::ToPem(
      ca.Issue({{"2.5.4.11", std::string(6000, 'u')}, {"2.5.4.3", "Alice"}}, {0x22}, PendingKey()));
  ASSERT_GT(tooLong.size(), 8191u);

  const std::pair<const char*, std::string> cases[] = {
      {"cut in the middle", mine.substr(0, middle)},
      {"without the end line", header + body},
      {"without the begin line", body + footer},
      {"a body line missing", Replaced(mine, body.substr(65, 65), "")},
      {"four Base64 characters missing", mine.substr(0, middle) + mine.substr(middle + 4)},
      {"misspelt markers", Replaced(Replaced(mine, "BEGIN CERTIFICATE", "BEGIN CERTIFICAT"),
                                    "END CERTIFICATE", "END CERTIFICAT")},
      {"lower-case markers", Replaced(Replaced(mine, "BEGIN CERTIFICATE", "begin certificate"),
                                      "END CERTIFICATE", "end certificate")},
      {"end marker first", footer + body + header},
      {"begin marker and body on one line",
       "-----BEGIN CERTIFICATE-----" + WithoutLineFeeds(body) + "\n" + footer},
      {"markers of a CRL", testing::Armored("X509 CRL", WithoutLineFeeds(body))},
      {"markers of PKCS #7", testing::Armored("PKCS7", WithoutLineFeeds(body))},
      {"10 000 lines of Base64", manyLines},
      {"the certificate after 10 000 blank lines", std::string(10000, '\n') + mine},
      {"the body spread over 10 000 lines", spreadOut},
      {"an exclamation mark in the body", with("!")},
      {"a byte FF in the body", with("\xFF")},
      {"a dash in the body", with("-")},
      {"padding in the middle of the body", with("=")},
      {"a zero byte in the body", with("\0"s)},
      {"the request for this very key", request},
      {"the request under certificate markers", testing::Armored("CERTIFICATE", requestBody)},
      {"the private key", testing::Armored("RSA PRIVATE KEY", keyBase64)},
      {"the private key under certificate markers", testing::Armored("CERTIFICATE", keyBase64)},
      {"a certificate longer than 8191 characters", tooLong},
  };
  const Fields fields = Now();
  const std::string store = StoreContents();
  for (const auto& [what, text] : cases) {
    const CallResult r = Call("ImportCert", {text});
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.value, Value{int32_t{-1}}) << what;
    EXPECT_EQ(Now(), fields) << what << ": the key stays pending";
    EXPECT_EQ(StoreContents(), store) << what;
  }
  EXPECT_EQ(ledger.calls(Op::addCertificate), 0);

  const CallResult r = Call("ImportCert", {mine});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.value, Value{int32_t{1}}) << "the pending key still takes its certificate";
  EXPECT_EQ(Call("IsCertExist", {"33"s}).value, Value{int32_t{1}});
  EXPECT_NE(StoreContents(), store) << "an import shows in the store's contents";
}

TEST_F(BadInputLinked, OnlyTheFirst8191CharactersOfAPemAreRead) {
  Request();
  const std::string mine = testing::ToPem(ca.Issue({{"2.5.4.3", "Alice"}}, {0x23}, PendingKey()));
  // Blank lines in front, as text around a PEM block has them.
  const auto padded = [&](size_t length) { return std::string(length - mine.size(), '\n') + mine; };
  // The end marker's last letter stands at character 8192: cut off.
  const size_t crossing = 8192 + mine.size() - (mine.rfind("END CERTIFICATE") + 15);
  const Fields fields = Now();
  const std::string store = StoreContents();
  CallResult r = Call("ImportCert", {padded(crossing)});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.value, Value{int32_t{-1}});
  EXPECT_EQ(Now(), fields);
  EXPECT_EQ(StoreContents(), store);

  r = Call("ImportCert", {padded(8191)});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.value, Value{int32_t{1}}) << "8191 characters are read in full";
}

TEST_F(BadInputLinked, SerialTextsAreReadAsTheDigitsUpToTheFirstOther) {
  const std::vector<uint8_t> certificate = Imported({0x0C}, {{"2.5.4.3", "Twelve"}});
  const std::string store = StoreContents();
  struct Case {
    std::string text;
    bool names12;
  };
  const Case cases[] = {
      {"12", true},
      {"12 ", true},
      {"12abc", true},
      {"12.9", true},
      {"0012", true},
      {"12"s + '\0' + "99", true},
      {std::string(37, '0') + "12", true},  // 39 characters, all read
      {"+12", false},
      {"-12", false},
      {" 12", false},
      {"\t12", false},
      {"abc12", false},
      {"1 2", false},
      {"0x0C", false},
      {"\xEF\xBC\x91\xEF\xBC\x92", false},   // full-width digits
      {"12" + std::string(98, '0'), false},  // 100 digits
      {std::string(98, '0') + "12", false},  // only 39 characters are read
      {std::string(100, '1'), false},
      {"", false},
  };
  const std::string data = "sign me";
  for (const Case& c : cases) {
    const std::string shown = testbrowser::ToString(c.text).substr(0, 40);
    CallResult r = Call("IsCertExist", {c.text});
    EXPECT_TRUE(r.ok) << shown;
    EXPECT_EQ(r.value, Value{int32_t{c.names12 ? 1 : 0}}) << shown;

    r = Call("CertSign", {c.text, testing::PlatformBase64(data)});
    EXPECT_EQ(r.ok, c.names12) << shown;
    const std::string answer = Text(r);
    if (c.names12) {
      EXPECT_TRUE(testing::CertSignAnswerVerifies(certificate, data, answer)) << shown;
    } else {
      EXPECT_EQ(answer, "") << shown;
    }

    if (!c.names12) {
      r = Call("DelCert", {c.text});
      EXPECT_TRUE(r.ok) << shown;
      EXPECT_EQ(r.value, Value{int32_t{0}}) << shown;
    }
  }
  EXPECT_EQ(StoreContents(), store) << "nothing deleted but by its own serial";
  const CallResult deleted = Call("DelCert", {"12abc"s});
  EXPECT_EQ(deleted.value, Value{int32_t{1}});
  EXPECT_EQ(Call("IsCertExist", {"12"s}).value, Value{int32_t{0}});
}

struct FindCase {
  std::string attribute, value;
  bool ok;
  Value result;
};

class FindCertValues : public BadInputLinked {
 protected:
  void Expect(const FindCase& c) {
    const std::string shown = testbrowser::ToString(c.attribute) + "=" +
                              testbrowser::ToString(c.value).substr(0, 40) + " (" +
                              std::to_string(c.value.size()) + " bytes)";
    const CallResult r = Call("FindCert", {c.attribute, c.value});
    EXPECT_EQ(r.ok, c.ok) << shown;
    EXPECT_EQ(r.value, c.result) << shown;
  }
};

TEST_F(FindCertValues, ATextLikeASerialMatchesOnlyItself) {
  Imported({0x0C}, {{"2.5.4.3", "12"}});
  const FindCase cases[] = {
      {"CN", "12", true, "12"s},     {"cN", "12", true, "12"s},
      {"CN", "+12", true, ""s},      {"CN", " 12", true, ""s},
      {"CN", "12 ", true, ""s},      {"CN", "012", true, ""s},
      {"CN", "12abc", true, ""s},    {"CN", std::string(98, '0') + "12", true, ""s},
      {"CN", "1", true, ""s},        {"CN ", "12", false, Value{}},
      {" CN", "12", false, Value{}}, {"C N", "12", false, Value{}},
      {"+CN", "12", false, Value{}},
  };
  for (const FindCase& c : cases) Expect(c);
}

// The key and the value are copied into 128-byte fields first, as the
// other fixed-size arguments are: cut at a zero byte and after 127 bytes.
TEST_F(FindCertValues, KeyAndValueAreComparedAsTheirFixedSizeCopies) {
  Imported({0x0C}, {{"2.5.4.3", "12"}});
  Imported({0x0D}, {{"2.5.4.3", std::string(127, 'a')}});
  const FindCase cases[] = {
      {"CN", std::string(127, 'a'), true, "13"s},
      {"CN", std::string(126, 'a'), true, ""s},          // a shorter value is another value
      {"CN", "12"s + '\0' + "99", true, "12"s},          // cut at the zero byte
      {"CN", std::string(127, 'a') + "b", true, "13"s},  // cut after 127 bytes
      {"CN", std::string(128, 'a'), true, "13"s},
      {"CN"s + '\0', "12", true, "12"s},  // the key is cut the same way
      {"CNX"s, "12", false, Value{}},     // not one of the ten
  };
  for (const FindCase& c : cases) Expect(c);
}

TEST_F(BadInputLinked, Base64InLinesOrWithBlanksIsRefusedWithoutOpeningTheStore) {
  const std::vector<uint8_t> certificate = Imported({0x0C}, {{"2.5.4.3", "Twelve"}});
  const std::string data(192, 'x');
  const std::string block = testing::PlatformBase64(data);  // 256 characters
  std::string pemStyle;  // lines of 64: 260 characters, a multiple of 4
  for (size_t at = 0; at < block.size(); at += 64) pemStyle += block.substr(at, 64) + "\n";
  std::string mimeStyle;  // lines of 76 with CR LF
  for (size_t at = 0; at < block.size(); at += 76) mimeStyle += block.substr(at, 76) + "\r\n";
  const std::pair<const char*, std::string> texts[] = {
      {"line feed at the end", "Zm9vYmF\n"},
      {"line feed inside a group", "Zm\nv"},
      {"CR LF between groups", "Zm9v\r\nZg"},
      {"blank in front", " Zm9vYmF"},
      {"tab between groups", "Zm9v\tYmF"},
      {"line feed, length not a multiple of 4", "Zm9v\nYmFy"},
      {"CR LF, length not a multiple of 4", "Zm9v\r\nYmFy"},
      {"64-character lines", pemStyle},
      {"76-character lines", mimeStyle},
  };
  for (const auto& [what, text] : texts) {
    const int opened = ledger.calls(Op::openPersonalStore);
    CallResult r = Call("CertSign", {"12"s, text});
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.value, Value{""s}) << what;
    EXPECT_EQ(ledger.calls(Op::openPersonalStore), opened) << what;
    r = Call("Base64Decode", {text});
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.value, Value{""s}) << what;
  }
  // The same characters without the breaks are good Base64.
  EXPECT_EQ(Call("Base64Decode", {block}).value, Value{data});
  const CallResult r = Call("CertSign", {"12"s, block});
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(testing::CertSignAnswerVerifies(certificate, data, Text(r)));
}

TEST_F(BadInputLinked, CertSignSignsDataOfAnySizeOnA1MiBStack) {
  const std::vector<uint8_t> certificate = Imported({0x0C}, {{"2.5.4.3", "Twelve"}});
  // Nothing, a few bytes, a few thousand, and 1 MiB and 16 MiB of Base64.
  for (const size_t size :
       {size_t{0}, size_t{3}, size_t{5000}, size_t{3} << 18, size_t{12} << 20}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + (i >> 12));
    const std::string text = testing::PlatformBase64(data);
    ASSERT_EQ(text.size(), (size + 2) / 3 * 4);
    const CallResult r = Call("CertSign", {"12"s, text});
    EXPECT_TRUE(r.ok) << size;
    EXPECT_TRUE(testing::CertSignAnswerVerifies(certificate, data, Text(r))) << size << " bytes";
  }
}

}  // namespace
}  // namespace zvcert
