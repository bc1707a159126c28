// The token store over a real SoftHSM2 token: the whole enrolment, the
// authority told by its key, and every failure leaving the token as it was.
#include "token/token_store.h"

#include <openssl/x509.h>

#include <regex>

#include "encoding/pem.h"
#include "encoding/sha256.h"
#include "support/test_data.h"
#include "token/token_fixture.h"

namespace zvcert {
namespace {

using testing::Seam;
using testing::Serial;
using testing::TokenTest;

constexpr std::string_view kData = "data to sign";
constexpr const char* kIssuer = testing::kRootName;

struct Request {
  RequestResult result;
  std::array<uint8_t, kRequestAreaSize> area;
  int32_t length = 0;
  int32_t keyLength = 0;
  std::span<const uint8_t> der() const { return std::span(area).first(length); }
};

Request MakeRequest(TokenStore& store) {
  Request r;
  std::array<uint8_t, kKeyBlobAreaSize> key;
  r.result = store.MakeRequest({r.area, r.length, key, r.keyLength}, testing::kWorkedExampleSubject,
                               "", "");
  return r;
}

std::vector<uint8_t> Der(const std::string& pem) {
  DerArea area;
  const std::optional<size_t> length = DecodePemCertificate(pem, area);
  return std::vector<uint8_t>(area.begin(),
                              area.begin() + static_cast<ptrdiff_t>(length.value_or(0)));
}

// The request's signature verifies with its own key; its subject is the one given.
void ExpectSignedRequest(std::span<const uint8_t> der) {
  const uint8_t* in = der.data();
  std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> request(
      d2i_X509_REQ(nullptr, &in, static_cast<long>(der.size())), X509_REQ_free);
  ASSERT_TRUE(request);
  EXPECT_EQ(X509_REQ_verify(request.get(), X509_REQ_get0_pubkey(request.get())), 1);
  std::array<char, 512> subject{};
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
  X509_NAME_print_ex(out.get(), X509_REQ_get_subject_name(request.get()), 0, XN_FLAG_ONELINE);
  BIO_read(out.get(), subject.data(), subject.size() - 1);
  EXPECT_STREQ(subject.data(), testing::kWorkedExampleOpenSslSubject);
}

TEST(ModuleConfiguration, TakesTheLastModuleLineWithoutCommentsOrBlanks) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"module = /usr/lib/a.so\n", "/usr/lib/a.so"},
      {"  module=/a.so # the card's\r\n", "/a.so"},
      {"# module = /commented.so\nmodules = /other.so\n", ""},
      {"module = /first.so\nmodule = /second.so", "/second.so"},
  };
  for (const auto& [text, module] : cases) EXPECT_EQ(ModuleNamedIn(text), module) << text;
}

ImportAnswer Import(TokenStore& store, const std::string& pem) {
  std::array<uint8_t, kKeyBlobAreaSize> blob;
  int32_t length = 0;
  return store.Import(pem.c_str(), kIssuer, {blob, length});
}

TEST_F(TokenTest, EnrolsSignsAndDeletesWithAKeyThatNeverLeavesTheToken) {
  std::vector<TokenInfo> tokens;
  ASSERT_EQ(store->Tokens(tokens), StoreProblem::None);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].label, "T");
  EXPECT_TRUE(tokens[0].loginRequired);
  EXPECT_FALSE(tokens[0].serialNumber.empty() || tokens[0].serialNumber.back() == ' ');
  std::array<char, 128> issuer;
  store->ReadRootIssuerName(issuer);
  EXPECT_STREQ(issuer.data(), kIssuer);
  ASSERT_EQ(store->Login("1234"), StoreProblem::None);

  const Request request = MakeRequest(*store);
  ASSERT_EQ(request.result, RequestResult::Ok);
  EXPECT_EQ(request.keyLength, 0);
  ExpectSignedRequest(request.der());
  // Read back through PKCS #11 by another program: sensitive, never extractable, made there.
  EXPECT_TRUE(std::regex_search(
      ListObjects(), std::regex("Access: +sensitive, always sensitive, never extractable, local")));

  const std::string pem = Issue(request.der(), "root", 0x0102030405);
  const std::vector<uint8_t> der = Der(pem);
  EXPECT_EQ(Import(*store, pem), ImportAnswer::Imported);
  EXPECT_EQ(Import(*store, pem), ImportAnswer::Imported);
  std::vector<std::vector<uint8_t>> ders;
  EXPECT_EQ(store->AuthorityCertificates(kIssuer, ders), StoreProblem::None);
  EXPECT_EQ(ders, std::vector<std::vector<uint8_t>>{der}) << "stored once";

  SerialValue serial{};
  EXPECT_EQ(store->FindSerial("2.5.4.3", "ZVUSER", kIssuer, serial), FindResult::Found);
  EXPECT_EQ(serial, Serial(0x0102030405));
  EXPECT_EQ(store->IsPresent(serial, kIssuer), PresenceResult::Present);

  std::array<uint8_t, kSignatureAreaSize> out;
  int32_t outLength = 0;
  const auto data = std::span(reinterpret_cast<const uint8_t*>(kData.data()), kData.size());
  ASSERT_EQ(store->Sign(serial, kIssuer, data, out, outLength), SignResult::Ok);
  ASSERT_EQ(outLength, static_cast<int32_t>(kSignatureAreaSize));
  EXPECT_TRUE(std::equal(serial.begin(), serial.end(), out.begin()));
  std::vector<uint8_t> signature(out.rbegin(), out.rend() - kSerialBytes);
  EXPECT_TRUE(testing::Verifies(der, kData, signature));

  std::vector<uint8_t> certificate;
  ASSERT_EQ(store->SignWithKeyOf(serial, kIssuer, Sha256(der), data, signature, certificate),
            SignResult::Ok);
  EXPECT_EQ(certificate, der);
  EXPECT_TRUE(testing::Verifies(der, kData, signature));
  EXPECT_EQ(store->SignWithKeyOf(serial, kIssuer, Sha256(data), data, signature, certificate),
            SignResult::NotFound)
      << "another thumbprint";

  EXPECT_EQ(store->Delete(serial, kIssuer), DeleteResult::Deleted);
  EXPECT_EQ(store->IsPresent(serial, kIssuer), PresenceResult::Absent);
  EXPECT_EQ(store->Delete(serial, kIssuer), DeleteResult::NotFound);
  store.reset();
  EXPECT_EQ(ObjectCount(), 0) << "the keys went with their certificate";
  EXPECT_EQ(Seam::opened, Seam::closed);
}

// With several tokens present, keys are made on the one chosen, logged in
// with its own PIN.
TEST_F(TokenTest, MakesTheKeyOnTheChosenTokenOfSeveral) {
  testing::Shell("softhsm2-util --init-token --free --label U --pin 4321 --so-pin 5678 >/dev/null");
  std::vector<TokenInfo> tokens;
  ASSERT_EQ(store->Tokens(tokens), StoreProblem::None);
  ASSERT_EQ(tokens.size(), 2u);
  const TokenInfo& second = tokens[0].label == "U" ? tokens[0] : tokens[1];
  ASSERT_EQ(store->Choose(second.slot), StoreProblem::None);
  EXPECT_EQ(store->chosen(), second.slot);
  EXPECT_EQ(store->Login("1234"), StoreProblem::PinIncorrect) << "the first token's PIN";
  ASSERT_EQ(store->Login("4321"), StoreProblem::None);
  ASSERT_EQ(MakeRequest(*store).result, RequestResult::Ok);
  EXPECT_EQ(ObjectCount(), 0) << "nothing on the first token";
  EXPECT_NE(testing::Shell(std::string("pkcs11-tool --module ") + testing::kSoftHsm +
                           " --token-label U --login --pin 4321 --list-objects 2>/dev/null")
                .find("Private Key Object"),
            std::string::npos);
}

// A root of another key may bear the authority's name: its certificates pass
// the name rule alone, never the signature rule.
TEST_F(TokenTest, ACertificateOfAnotherRootIsNeitherTheAuthoritysNorDisplaced) {
  MakeRoot("impostor");
  ASSERT_EQ(store->Login("1234"), StoreProblem::None);
  const Request request = MakeRequest(*store);
  ASSERT_EQ(request.result, RequestResult::Ok);
  const std::string pem = Issue(request.der(), "impostor", 7);
  ASSERT_EQ(Import(*store, pem), ImportAnswer::Imported);

  const auto presence =
      kAuthorityCheck == AuthorityCheck::Name ? PresenceResult::Present : PresenceResult::Absent;
  EXPECT_EQ(store->IsPresent(Serial(7), kIssuer), presence);
  std::vector<uint8_t> signature, certificate;
  EXPECT_EQ(store->SignWithKeyOf(Serial(7), kIssuer, {}, {}, signature, certificate),
            SignResult::NotFound);

  // The authority's certificate for the same key joins the other, which stays.
  ASSERT_EQ(Import(*store, Issue(request.der(), "root", 8)), ImportAnswer::Imported);
  EXPECT_EQ(store->IsPresent(Serial(8), kIssuer), PresenceResult::Present);
  EXPECT_EQ(store->IsPresent(Serial(7), kIssuer), presence);
  const std::string list = ListObjects();
  EXPECT_NE(list.find("Certificate Object"), list.rfind("Certificate Object")) << list;
  // A certificate of a key the token does not hold is no enrolment of its.
  const std::string stranger = testing::Shell(
      "openssl req -x509 -newkey rsa:1024 -nodes -keyout /dev/null -subj /CN=ZVUSER -days 1 "
      "2>/dev/null");
  EXPECT_EQ(Import(*store, stranger), ImportAnswer::NotPending);
}

// A token with a PIN pad logs in without a PIN: the pad asks the user.
TEST_F(TokenTest, APinPadTokenLogsInWithoutAPin) {
  Seam::pinPad = true;
  std::vector<TokenInfo> tokens;
  ASSERT_EQ(store->Tokens(tokens), StoreProblem::None);
  EXPECT_TRUE(tokens.at(0).protectedAuthenticationPath);
  EXPECT_EQ(store->Login(""), StoreProblem::None);
  EXPECT_EQ(MakeRequest(*store).result, RequestResult::Ok);
}

// Each failure names its cause, and leaves the token's objects and no session.
TEST_F(TokenTest, FailuresLeaveTheTokenAsItWas) {
  struct Case {
    const char* name;
    const char* module;  // SoftHSM2 when null
    bool initialised;
    Seam::Call failing;
    CK_RV failure;
    const char* pin;  // logged in with first, when given
    int (*call)(TokenStore&);
    int result;
    StoreProblem problem;
  };
  constexpr auto nothing = [](TokenStore&) { return 0; };
  constexpr auto find = [](TokenStore& s) {
    SerialValue serial;
    return static_cast<int>(s.FindSerial("2.5.4.3", "ZVUSER", kIssuer, serial));
  };
  constexpr auto request = [](TokenStore& s) { return static_cast<int>(MakeRequest(s).result); };
  using enum StoreProblem;
  const Case cases[] = {
      {"module missing", "/nonexistent/libpkcs11.so", true, Seam::None, 0, "1234", find, -1,
       NoModule},
      {"no PKCS #11 module", "libz.so.1", true, Seam::None, 0, nullptr, find, -1, NoModule},
      {"no token", nullptr, false, Seam::None, 0, "1234", request, -1, NoToken},
      {"no login", nullptr, true, Seam::None, 0, nullptr, request, -1, PinRequired},
      {"wrong PIN", nullptr, true, Seam::None, 0, "0000", nothing, 0, PinIncorrect},
      {"locked PIN", nullptr, true, Seam::Login, CKR_PIN_LOCKED, "1234", nothing, 0, PinLocked},
      {"removed while generating", nullptr, true, Seam::GenerateKeyPair, CKR_DEVICE_REMOVED, "1234",
       request, -3, TokenRemoved},
      {"removed while signing", nullptr, true, Seam::Sign, CKR_DEVICE_REMOVED, "1234", request, -6,
       TokenRemoved},
      {"session closed", nullptr, true, Seam::FindObjectsInit, CKR_SESSION_HANDLE_INVALID, nullptr,
       find, -1, TokenRemoved},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUpToken(c.initialised);
    const int before = c.initialised ? ObjectCount() : 0;
    store =
        std::make_unique<TokenStore>(c.module ? c.module : testing::kSoftHsm, root, &Seam::Hook);
    Seam::failing = c.failing;
    Seam::failure = c.failure;
    if (c.pin != nullptr) store->Login(c.pin);
    EXPECT_EQ(c.call(*store), c.result);
    EXPECT_EQ(store->problem(), c.problem);
    Seam::failing = Seam::None;
    store.reset();
    EXPECT_EQ(c.initialised ? ObjectCount() : 0, before);
    EXPECT_EQ(Seam::opened, Seam::closed);
  }
}

}  // namespace
}  // namespace zvcert
