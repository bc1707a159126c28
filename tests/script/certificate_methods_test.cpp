// The certificate methods as script calls them, with the plug-in linked in:
// the pending key's rules, the shapes of the results, and what reaches the
// store. The authority's root in this program is "ZV Test Other Root".
#include <algorithm>

#include "encoding/base64.h"
#include "script/page_origin.h"
#include "script/scriptable_object.h"
#include "support/linked_plugin_test.h"
#include "support/test_ca.h"

namespace zvcert {
namespace {

using testbrowser::Browser;
using testbrowser::CallResult;
using testbrowser::Slot;
using testbrowser::Value;
using testing::Op;

constexpr char kRoot[] = "ZV Test Other Root";

class CertificateMethods : public testing::LinkedPluginTest {
 protected:
  void SetUp() override {
    testing::PurgeIssuer(kRoot);
    LinkedPluginTest::SetUp();
  }
  void TearDown() override {
    LinkedPluginTest::TearDown();
    pageOriginCheck = nullptr;
    Browser::SetPage(std::nullopt);
    testing::PurgeIssuer(kRoot);
  }
  // A request made by the object, and the certificate the CA issues for it.
  std::string Issued(std::vector<uint8_t> serial, const testing::Subject& subject) {
    EXPECT_TRUE(Call("GetCSR").ok);
    return testing::ToPem(ca.Issue(subject, serial, PendingKey()));
  }
  testing::TestCa ca{kRoot};
};

TEST_F(CertificateMethods, ImportCertTakesOnlyTheCertificateOfThePendingKey) {
  const std::string stranger =
      testing::ToPem(ca.Issue({{"2.5.4.3", "X"}}, {0x09}, testing::NewKeyBlob()));
  CallResult r = Call("ImportCert", {stranger});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Int(r), -1) << "no key pending yet";

  const std::string mine = Issued({0x0A}, {{"2.5.4.3", "Alice"}});
  r = Call("ImportCert", {stranger});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Int(r), -1) << "another key's certificate";
  EXPECT_GT(state->pendingKeyLength, 0) << "the key stays pending";
  r = Call("ImportCert", {std::string("not a certificate")});
  EXPECT_EQ(Int(r), -1);

  r = Call("ImportCert", {mine});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Int(r), 1);
  EXPECT_EQ(state->pendingKeyLength, 0);
  EXPECT_TRUE(std::all_of(state->pendingKeyBlob.begin(), state->pendingKeyBlob.end(),
                          [](uint8_t b) { return b == 0; }))
      << "the key is wiped from the object";
  r = Call("ImportCert", {mine});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Int(r), -1) << "nothing pending any more";
}

TEST_F(CertificateMethods, AFailedImportStillConsumesTheKey) {
  const std::string mine = Issued({0x0B}, {{"2.5.4.3", "Alice"}});
  ledger.FailCall(Op::addCertificate);
  const CallResult r = Call("ImportCert", {mine});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Int(r), -2);
  EXPECT_EQ(state->pendingKeyLength, 0);
  EXPECT_EQ(Int(Call("IsCertExist", {std::string("11")})), 0);
}

TEST_F(CertificateMethods, FindExistSignAndDeleteShapeTheirResults) {
  ASSERT_EQ(Int(Call("ImportCert", {Issued({0x00, 0x8F, 0x12, 0x34},
                                           {{"2.5.4.3", "Alice"}, {"2.5.4.10", "OFFICE"}})})),
            1);
  const std::string serial = "9376308";  // 0x8F1234

  struct Find {
    std::string key, value;
    bool ok;
    Value result;
  };
  const Find finds[] = {
      {"CN", "Alice", true, serial},           {"cn", "Alice", true, serial},
      {"o", "OFFICE", true, serial},           {"CN", "alice", true, std::string()},
      {"CN", "Nobody", true, std::string()},   {"CNX", "Alice", false, std::monostate{}},
      {"N", "Alice", false, std::monostate{}},
  };
  for (const Find& f : finds) {
    const CallResult r = Call("FindCert", {f.key, f.value});
    EXPECT_EQ(r.ok, f.ok) << f.key << "=" << f.value;
    EXPECT_EQ(r.value, f.result) << f.key << "=" << f.value;
  }

  EXPECT_EQ(Int(Call("IsCertExist", {serial})), 1);

  const std::string data = "the data to sign";
  const CallResult signedOnce = Call("CertSign", {serial, testing::PlatformBase64(data)});
  ASSERT_TRUE(signedOnce.ok);
  EXPECT_EQ(Text(signedOnce).size(), Base64Length(kSerialBytes + kSignatureBytes));
  const std::vector<uint8_t> bytes = testing::PlatformFromBase64(Text(signedOnce));
  ASSERT_EQ(bytes.size(), kSerialBytes + kSignatureBytes);
  std::vector<uint8_t> serialField(kSerialBytes - 3, 0);
  serialField.insert(serialField.end(), {0x8F, 0x12, 0x34});
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + kSerialBytes), serialField)
      << "the serial, big-endian";
  EXPECT_EQ(Text(Call("CertSign", {serial, testing::PlatformBase64(data)})), Text(signedOnce));

  ledger.FailCall(Op::openPersonalStore, 0);
  const int opened = ledger.calls(Op::openPersonalStore);
  const CallResult bad = Call("CertSign", {serial, std::string("not base64!")});
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(Text(bad), "");
  EXPECT_EQ(ledger.calls(Op::openPersonalStore), opened) << "the store is not touched";
  const CallResult unknown = Call("CertSign", {std::string("77"), testing::PlatformBase64(data)});
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(Text(unknown), "");

  const CallResult deleted = Call("DelCert", {serial});
  EXPECT_TRUE(deleted.ok);
  EXPECT_EQ(Int(deleted), 1);
  EXPECT_EQ(Int(Call("DelCert", {serial})), 0);
  EXPECT_EQ(Int(Call("IsCertExist", {serial})), 0);
  EXPECT_EQ(Text(Call("FindCert", {std::string("CN"), std::string("Alice")})), "");
}

TEST_F(CertificateMethods, ThePageLockServesOnlyTheListedOriginsAndReleasesWhatItReads) {
  using Page = Browser::Page;
  ASSERT_EQ(Int(Call("ImportCert", {Issued({0x4C}, {{"2.5.4.3", "Alice"}})})), 1);
  const std::string serial = "76", data = testing::PlatformBase64("data");
  // Unlocked, the module never asks for the page, even when there is one.
  Browser::SetPage(Page{true, Page::Location::Object, std::string("https://other.example")});
  EXPECT_EQ(Int(Call("IsCertExist", {serial})), 1);
  ASSERT_TRUE(SetEnvironmentVariableA("COMPUTERNAME", "WORKSTATION-7"));
  EXPECT_EQ(object->GetProperty("HostName").value, Value(std::string("WORKSTATION-7")));
  EXPECT_EQ(Browser::CallsFromModule(Slot::getvalue), 0);

  static constexpr std::string_view kListed[] = {"https://ca.example.com"};
  pageOriginCheck = [](NPP npp) { return PageOriginAllowed(npp, kListed); };
  struct Case {
    const char* what;
    Page page;
    bool served;
  };
  const Case cases[] = {
      {"no window object", Page{false, Page::Location::Missing, {}}, false},
      {"no location", Page{true, Page::Location::Missing, {}}, false},
      {"a location that is text", Page{true, Page::Location::Text, std::string(kListed[0])}, false},
      {"an origin that is a number", Page{true, Page::Location::Object, int32_t{7}}, false},
      {"about:blank or file:", Page{true, Page::Location::Object, std::string("null")}, false},
      {"file: elsewhere", Page{true, Page::Location::Object, std::string("file://")}, false},
      {"another port",
       Page{true, Page::Location::Object, std::string("https://ca.example.com:8443")}, false},
      {"another origin",
       Page{true, Page::Location::Object, std::string("https://ca.example.com.evil")}, false},
      {"the listed origin", Page{true, Page::Location::Object, std::string(kListed[0])}, true},
  };
  for (const Case& c : cases) {
    Browser::SetPage(c.page);
    const size_t objects = Browser::LiveObjects(), memory = Browser::OutstandingAllocations();
    const int asked = Browser::CallsFromModule(Slot::getvalue);
    EXPECT_EQ(Call("FindCert", {std::string("CN"), std::string("Alice")}).value,
              Value(c.served ? serial : std::string()))
        << c.what;
    EXPECT_EQ(Int(Call("IsCertExist", {serial})), c.served ? 1 : 0) << c.what;
    const CallResult sign = Call("CertSign", {serial, data});
    EXPECT_EQ(sign.ok, c.served) << c.what;
    EXPECT_EQ(Text(sign).empty(), !c.served) << c.what;
    const std::string next = Issued({0x4D}, {{"2.5.4.3", "Bob"}});
    const CallResult imported = Call("ImportCert", {next});
    EXPECT_EQ(Int(imported), c.served ? 1 : -1) << c.what;
    EXPECT_EQ(state->pendingKeyLength > 0, !c.served) << c.what << ": the key stays pending";
    EXPECT_EQ(Int(Call("DelCert", {serial})), c.served ? 1 : 0) << c.what;
    EXPECT_EQ(object->GetProperty("HostName").value,
              Value(std::string(c.served ? "WORKSTATION-7" : "")))
        << c.what << ": the computer's name";
    EXPECT_EQ(Browser::CallsFromModule(Slot::getvalue) - asked, 6) << c.what;
    EXPECT_EQ(Browser::LiveObjects(), objects) << c.what << ": every object released";
    EXPECT_EQ(Browser::OutstandingAllocations(), memory) << c.what << ": every value released";
  }
  pageOriginCheck = nullptr;
  EXPECT_EQ(Int(Call("IsCertExist", {std::string("77")})), 1) << "imported by the listed page";
  EXPECT_EQ(Int(Call("IsCertExist", {serial})), 0) << "deleted by the listed page";
}

TEST_F(CertificateMethods, SerialsAtOrAbove2To63AreNotReportedByFindCert) {
  ASSERT_EQ(Int(Call("ImportCert",
                     {Issued({0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x05}, {{"2.5.4.3", "High"}})})),
            1);
  const CallResult r = Call("FindCert", {std::string("CN"), std::string("High")});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Text(r), "");
  // Its decimal text still names it: the conversion reads 64 unsigned bits.
  EXPECT_EQ(Int(Call("IsCertExist", {std::string("9223372036854775813")})), 1);
}

}  // namespace
}  // namespace zvcert
