// Every platform call of each operation made to fail in turn: the first
// call, then the second, and so on to the last one a successful run makes.
// Whatever fails, the operation returns one of its codes, leaves no handle
// open, and leaves the store and the key containers as that code says.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "request/signed_request.h"
#include "store/pending.h"
#include "store/platform_ledger.h"
#include "store/store_services.h"
#include "support/test_ca.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::PlatformLedger;
using testing::Serial;

constexpr char kIssuer[] = "ZV Test Sweep Issuer";

// What "MY" holds for the sweep's serial: count, and whether linked to a
// container that exists.
struct Stored {
  int count = 0;
  bool linkedToAContainer = false;
};

class FailureSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PurgeIssuer(kIssuer);
    key = testing::NewKeyBlob();
    pem = testing::ToPem(ca.Issue({{"2.5.4.3", "Sweep"}}, {0x61}, key));
  }
  void TearDown() override { testing::PurgeIssuer(kIssuer); }

  Stored Look() {
    Stored found;
    for (const testing::HeldCertificate& c : testing::PersonalCertificates()) {
      if (c.issuer != kIssuer) continue;
      ++found.count;
      if (c.key && !c.key->container.empty() && testing::ContainerExists(*c.key)) {
        found.linkedToAContainer = true;
      }
    }
    return found;
  }

  void Enrol() {
    testing::PurgeIssuer(kIssuer);
    ASSERT_EQ(ImportCertWithKey(pem.c_str(), key), ImportResult::Ok);
  }

  // Runs op once per platform call a successful run makes, that call
  // failing; check judges each result.
  void Sweep(const char* what, const std::function<void()>& prepare, const std::function<int()>& op,
             const std::function<void(int, bool)>& check) {
    prepare();
    int calls = 0;
    {
      PlatformLedger ledger;
      op();
      calls = ledger.totalCalls();
    }
    ASSERT_GT(calls, 0) << what;
    for (int k = 1; k <= calls; ++k) {
      prepare();
      PlatformLedger ledger;
      ledger.FailNthCall(k);
      const int result = op();
      SCOPED_TRACE(std::string(what) + ", platform call " + std::to_string(k) + " of " +
                   std::to_string(calls) + " failing: result " + std::to_string(result));
      EXPECT_EQ(ledger.openHandles(), "");
      check(result, k == calls);
    }
  }

  testing::TestCa ca{kIssuer};
  std::vector<uint8_t> key;
  std::string pem;
};

TEST_F(FailureSweep, GenerateSignedRequest) {
  const SubjectValues subject = {"CN", "", "", "O", "", "Name", "e@x.test", "", "", ""};
  Sweep(
      "GenerateSignedRequest", [] {},
      [&] {
        std::array<uint8_t, kRequestAreaSize> request;
        std::array<uint8_t, kKeyBlobAreaSize> privateKey;
        int32_t requestLength = 0, keyLength = 0;
        return static_cast<int>(GenerateSignedRequest(
            {request, requestLength, privateKey, keyLength}, subject, "u", "p"));
      },
      [&](int result, bool lastCall) {
        EXPECT_TRUE((std::set<int>{0, -1, -3, -4, -5, -6}.count(result)));
        // Only a failure of the closing deletion itself can leave the
        // container; the next request deletes it first.
        if (!lastCall) {
          EXPECT_FALSE(testing::ContainerExists(kRequestContainer));
        }
        HCRYPTPROV none = 0;
        CryptAcquireContextA(&none, kRequestContainer, nullptr, PROV_RSA_FULL,
                             CRYPT_SILENT | CRYPT_DELETEKEYSET);
      });
}

TEST_F(FailureSweep, Lookups) {
  Sweep(
      "FindCertSerial", [&] { Enrol(); },
      [&] {
        SerialValue serial{};
        return static_cast<int>(FindCertSerial("2.5.4.3", "Sweep", kIssuer, serial));
      },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{0, -1, -2}.count(result)));
      });
  Sweep(
      "IsCertInStore", [&] {},
      [&] { return static_cast<int>(IsCertInStore(Serial(0x61), kIssuer)); },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{1, 0, -1}.count(result)));
      });
}

TEST_F(FailureSweep, DeleteCertAndKey) {
  Sweep(
      "DeleteCertAndKey", [&] { Enrol(); },
      [&] { return static_cast<int>(DeleteCertAndKey(Serial(0x61), kIssuer)); },
      [&](int result, bool) {
        const Stored after = Look();
        switch (result) {
          case 1:  // both gone
            EXPECT_EQ(after.count, 0);
            break;
          case -6:  // the key went first; the certificate stays
            EXPECT_EQ(after.count, 1);
            EXPECT_FALSE(after.linkedToAContainer);
            break;
          case 0:
          case -2:
          case -3:
          case -4:
          case -5:  // nothing deleted
            EXPECT_EQ(after.count, 1);
            EXPECT_TRUE(after.linkedToAContainer);
            break;
          default:
            ADD_FAILURE() << "not a code of the deletion";
        }
      });
}

TEST_F(FailureSweep, SignWithStoredCert) {
  Sweep(
      "SignWithStoredCert", [&] { Enrol(); },
      [&] {
        std::array<uint8_t, kSignatureAreaSize> out{};
        int32_t length = 0;
        return static_cast<int>(SignWithStoredCert(Serial(0x61), kIssuer, {}, out, length));
      },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{0, -1, -2, -5, -6, -7, -8, -9}.count(result)));
        const Stored after = Look();
        EXPECT_EQ(after.count, 1) << "signing changes nothing";
        EXPECT_TRUE(after.linkedToAContainer);
      });
}

TEST_F(FailureSweep, ImportCertWithKey) {
  Sweep(
      "MatchesPendingKey", [] {},
      [&] { return static_cast<int>(MatchesPendingKey(key, pem.c_str())); },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{0, -2}.count(result)));
      });
  // Only a successful import adds a container: no failure leaves a key that
  // no certificate links to.
  int containers = 0;
  const auto prepare = [&] {
    testing::PurgeIssuer(kIssuer);
    containers = testing::CountContainers();
  };
  Sweep(
      "ImportCertWithKey", prepare,
      [&] { return static_cast<int>(ImportCertWithKey(pem.c_str(), key)); },
      [&](int result, bool) {
        const Stored after = Look();
        EXPECT_EQ(testing::CountContainers(), containers + (result == 0 ? 1 : 0));
        switch (result) {
          case 0:
            EXPECT_EQ(after.count, 1);
            EXPECT_TRUE(after.linkedToAContainer);
            break;
          case -1:
          case -2:
          case -3:  // nothing stored
            EXPECT_EQ(after.count, 0);
            break;
          case -4:
          case -5:  // stored without a link, as added
            EXPECT_EQ(after.count, 1);
            EXPECT_FALSE(after.linkedToAContainer);
            break;
          default:
            ADD_FAILURE() << "not a code of the import";
        }
      });
}

// A request whose key waits in the store, and its import: whatever fails, no
// container is left that neither a pending request nor a certificate names.
TEST_F(FailureSweep, PendingRequests) {
  const SubjectValues subject = {"CN", "", "", "O", "", "Sweep", "", "", "", ""};
  std::array<uint8_t, kRequestAreaSize> request;
  int32_t length = 0;
  int containers = 0;
  const auto pending = [] { return testing::RequestsNamed(kPendingRequestSubject).size(); };
  const auto clear = [&] {
    testing::RequestsNamed(kPendingRequestSubject, true);
    testing::PurgeIssuer(kIssuer);
    containers = testing::CountContainers();
  };
  Sweep(
      "GeneratePendingRequest", clear,
      [&] { return static_cast<int>(GeneratePendingRequest(request, length, subject, "", "")); },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{0, -1, -3, -5, -6, -8, -9}.count(result)));
        EXPECT_EQ(pending(), result == 0 ? 1u : 0u);
        EXPECT_EQ(testing::CountContainers(), containers + (result == 0 ? 1 : 0));
      });

  std::string issued;
  Sweep(
      "ImportCertForPendingRequest",
      [&] {
        clear();
        ASSERT_EQ(GeneratePendingRequest(request, length, subject, "", ""), RequestResult::Ok);
        issued = ca.IssueForRequest(std::span(request).first(length), {0x62});
        containers = testing::CountContainers();
      },
      [&] { return static_cast<int>(ImportCertForPendingRequest(issued.c_str(), kIssuer)); },
      [&](int result, bool) {
        EXPECT_TRUE((std::set<int>{0, -1, -2, -3, -4, -5, -6}.count(result)));
        const Stored after = Look();
        EXPECT_EQ(after.count, result == 0 ? 1 : 0);
        EXPECT_EQ(after.linkedToAContainer, result == 0);
        // Only a stored certificate may have ended its request (its removal
        // may fail after the certificate is in).
        if (result != 0) {
          EXPECT_EQ(pending(), 1u);
        }
        EXPECT_EQ(testing::CountContainers(), containers) << "the key never moves";
      });
  clear();
}

}  // namespace
}  // namespace zvcert
