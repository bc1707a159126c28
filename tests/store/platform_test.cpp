// The platform services as the module calls them, for real under Wine: the
// fixed constants give what the module relies on, and the ledger balances
// every handle.
#include "store/platform.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "store/handles.h"
#include "store/pem_certificate.h"
#include "store/platform_ledger.h"
#include "store/root_certificate.h"

namespace zvcert {
namespace {

using testing::HandleKind;
using testing::Op;
using testing::PlatformLedger;

constexpr char kContainer[] = "zvcert-platform-test";
constexpr char kSecondContainer[] = "zvcert-platform-test-2";

void DeleteContainer(const char* name) {
  HCRYPTPROV unused = 0;
  platform.acquireContext(&unused, name, nullptr, PROV_RSA_FULL, kKeysetDelete);
}

class Platform : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteContainer(kContainer);
    DeleteContainer(kSecondContainer);
  }
  void TearDown() override {
    EXPECT_EQ(ledger.openHandles(), "");
    DeleteContainer(kContainer);
    DeleteContainer(kSecondContainer);
  }
  PlatformLedger ledger;
};

TEST_F(Platform, KeysHashesAndSignaturesHaveTheShapesTheModuleExpects) {
  ScopedProvider prov;
  ASSERT_TRUE(
      platform.acquireContext(prov.receive(), kContainer, nullptr, PROV_RSA_FULL, kKeysetCreate));
  EXPECT_EQ(ledger.open(HandleKind::Provider), 1);

  std::array<BYTE, kProviderNameAreaSize> name{};
  DWORD nameSize = 0;
  ASSERT_TRUE(platform.getProviderName(prov.get(), name.data(), &nameSize));
  EXPECT_GT(nameSize, 1u);
  EXPECT_EQ(name[nameSize - 1], 0) << "the length counts the NUL";

  ScopedKey key;
  ASSERT_TRUE(platform.generateSignatureKey(prov.get(), key.receive()));
  std::array<BYTE, 2048> blob{};
  DWORD size = blob.size();
  ASSERT_TRUE(platform.exportKey(key.get(), PUBLICKEYBLOB, blob.data(), &size));
  EXPECT_EQ(size, 148u) << "a 1024-bit RSA public key";
  EXPECT_EQ(reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg, CALG_RSA_SIGN);
  size = blob.size();
  ASSERT_TRUE(platform.exportKey(key.get(), PRIVATEKEYBLOB, blob.data(), &size))
      << "the key is exportable";
  EXPECT_EQ(size, 596u);
  const DWORD privateSize = size;

  ScopedHash hash;
  ASSERT_TRUE(platform.createHash(prov.get(), hash.receive()));
  const BYTE data[] = "data to sign";
  ASSERT_TRUE(platform.hashData(hash.get(), data, sizeof data - 1));
  std::array<BYTE, 128> signature{};
  DWORD signatureSize = signature.size();
  ASSERT_TRUE(platform.signHash(hash.get(), signature.data(), &signatureSize));
  EXPECT_EQ(signatureSize, 128u);
  EXPECT_EQ(ledger.open(HandleKind::Hash), 1);

  // The private blob goes into another container, as an import does.
  ScopedProvider second;
  ASSERT_TRUE(platform.acquireContext(second.receive(), kSecondContainer, nullptr, PROV_RSA_FULL,
                                      kKeysetCreate));
  ScopedKey imported;
  ASSERT_TRUE(
      platform.importPrivateKey(second.get(), blob.data(), privateSize, imported.receive()));
  size = blob.size();
  EXPECT_FALSE(platform.exportKey(imported.get(), PRIVATEKEYBLOB, blob.data(), &size))
      << "an imported key is not exportable";
  EXPECT_EQ(ledger.open(HandleKind::Key), 2);
}

TEST_F(Platform, ADeletedContainerLeavesNoHandleAndCannotBeOpened) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetCreate));
  platform.releaseContext(prov);
  ASSERT_TRUE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetDelete));
  EXPECT_EQ(ledger.open(HandleKind::Provider), 0);
  EXPECT_FALSE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetOpen));
}

// Counts the certificates in "MY" whose subject common name is cn.
int CountInPersonalStore(const std::string& cn) {
  ScopedStore store(platform.openPersonalStore());
  int found = 0;
  for (PCCERT_CONTEXT c = platform.enumCertificates(store.get(), nullptr); c != nullptr;
       c = platform.enumCertificates(store.get(), c)) {
    std::array<char, 256> name{};
    platform.getNameAttribute(c, kSubjectName, kCommonNameOid, name.data(), name.size());
    if (cn == name.data()) ++found;
  }
  return found;
}

// Deletes the certificates in "MY" whose subject common name is cn, the way
// the module must: found first, deleted after the enumeration, committed.
int RemoveFromPersonalStore(const std::string& cn) {
  int removed = 0;
  for (;;) {
    ScopedStore store(platform.openPersonalStore());
    PCCERT_CONTEXT c = platform.enumCertificates(store.get(), nullptr);
    for (; c != nullptr; c = platform.enumCertificates(store.get(), c)) {
      std::array<char, 256> name{};
      platform.getNameAttribute(c, kSubjectName, kCommonNameOid, name.data(), name.size());
      if (cn == name.data()) break;
    }
    if (c == nullptr) return removed;
    if (!platform.deleteCertificate(c) || !platform.commitStore(store.get())) return -1;
    ++removed;
  }
}

TEST_F(Platform, PersonalStoreTakesAndGivesUpACertificate) {
  ScopedCertificate cert(ParsePemCertificate(rootCertificatePem));
  ASSERT_TRUE(cert);
  std::array<char, 128> cn{};
  ASSERT_GT(
      platform.getNameAttribute(cert.get(), kSubjectName, kCommonNameOid, cn.data(), cn.size()),
      1u);
  RemoveFromPersonalStore(cn.data());  // what an earlier, failed run may have left
  ASSERT_EQ(CountInPersonalStore(cn.data()), 0);

  {
    ScopedStore store(platform.openPersonalStore());
    ASSERT_TRUE(store);
    ScopedCertificate stored;
    ASSERT_TRUE(platform.addCertificate(store.get(), cert.get(), stored.receive()));
    EXPECT_TRUE(stored);
  }
  EXPECT_EQ(CountInPersonalStore(cn.data()), 1);
  // Adding again replaces the copy rather than adding a second.
  {
    ScopedStore store(platform.openPersonalStore());
    ASSERT_TRUE(platform.addCertificate(store.get(), cert.get(), nullptr));
  }
  EXPECT_EQ(CountInPersonalStore(cn.data()), 1);

  EXPECT_EQ(RemoveFromPersonalStore(cn.data()), 1);
  EXPECT_EQ(CountInPersonalStore(cn.data()), 0) << "the deletion is kept";
}

TEST_F(Platform, AFailedDeletionStillReleasesTheContext) {
  PCCERT_CONTEXT cert = ParsePemCertificate(rootCertificatePem);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(ledger.open(HandleKind::Certificate), 1);
  ledger.FailCall(Op::deleteCertificate);
  EXPECT_FALSE(platform.deleteCertificate(cert));
  EXPECT_EQ(ledger.open(HandleKind::Certificate), 0);
}

TEST_F(Platform, GuidsComeAs36CharacterText) {
  UUID uuid;
  ASSERT_EQ(platform.createUuid(&uuid), RPC_S_OK);
  RPC_CSTR text = nullptr;
  ASSERT_EQ(platform.uuidToString(&uuid, &text), RPC_S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text)).size(), 36u);
  EXPECT_EQ(ledger.open(HandleKind::RpcString), 1);
  platform.freeRpcString(&text);
}

TEST_F(Platform, AChosenCallFailsOnceAndIsCounted) {
  HCRYPTPROV prov = 0;
  const int acquired = ledger.calls(Op::acquireContext);
  ledger.FailCall(Op::acquireContext, 2);
  ASSERT_TRUE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetCreate));
  platform.releaseContext(prov);
  EXPECT_FALSE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetOpen));
  EXPECT_TRUE(platform.acquireContext(&prov, kContainer, nullptr, PROV_RSA_FULL, kKeysetOpen));
  platform.releaseContext(prov);
  EXPECT_EQ(ledger.calls(Op::acquireContext) - acquired, 3);
  EXPECT_EQ(ledger.calls(Op::releaseContext), 2);
}

TEST(PlatformDefaults, AreTheRealFunctionsAgainAfterALedger) {
  const PlatformServices before = platform;
  {
    PlatformLedger ledger;
    EXPECT_NE(platform.openPersonalStore, before.openPersonalStore);
  }
  EXPECT_EQ(platform.openPersonalStore, before.openPersonalStore);
  EXPECT_EQ(platform.releaseContext, before.releaseContext);
}

}  // namespace
}  // namespace zvcert
