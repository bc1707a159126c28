// A SoftHSM2 token of each test's own in the build folder, an OpenSSL
// authority that issues for it, and the store's function list counted and
// made to fail on demand.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "token/token_store.h"

namespace zvcert::testing {

inline constexpr char kSoftHsm[] = "/usr/lib/softhsm/libsofthsm2.so";
inline constexpr char kRootName[] = "ZV Token Test Root";

inline std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  for (int c; pipe != nullptr && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  EXPECT_EQ(pipe != nullptr ? pclose(pipe) : -1, 0) << command;
  return out;
}

// The calls a test fails, and the sessions the store opens and closes.
struct Seam {
  enum Call { None, Login, GenerateKeyPair, Sign, FindObjectsInit };
  static inline CK_FUNCTION_LIST real, patched;
  static inline Call failing = None;
  static inline CK_RV failure = CKR_OK;
  static inline int opened = 0, closed = 0;
  // The token claims a PIN pad, which "types" 1234 when C_Login has no PIN.
  static inline bool pinPad = false;

  static CK_FUNCTION_LIST* Hook(CK_FUNCTION_LIST* loaded) {
    real = patched = *loaded;
    patched.C_OpenSession = [](CK_SLOT_ID s, CK_FLAGS f, void* a, CK_NOTIFY n,
                               CK_SESSION_HANDLE* h) {
      const CK_RV rv = real.C_OpenSession(s, f, a, n, h);
      opened += rv == CKR_OK;
      return rv;
    };
    patched.C_CloseSession = [](CK_SESSION_HANDLE h) { return ++closed, real.C_CloseSession(h); };
    patched.C_Login = [](CK_SESSION_HANDLE h, CK_USER_TYPE u, CK_UTF8CHAR* p, CK_ULONG n) {
      static CK_UTF8CHAR typed[] = {'1', '2', '3', '4'};
      if (pinPad) return p == nullptr ? real.C_Login(h, u, typed, 4) : CKR_ARGUMENTS_BAD;
      return failing == Login ? failure : real.C_Login(h, u, p, n);
    };
    patched.C_GetTokenInfo = [](CK_SLOT_ID s, CK_TOKEN_INFO* info) {
      const CK_RV rv = real.C_GetTokenInfo(s, info);
      if (rv == CKR_OK && pinPad) info->flags |= CKF_PROTECTED_AUTHENTICATION_PATH;
      return rv;
    };
    patched.C_GenerateKeyPair = [](CK_SESSION_HANDLE h, CK_MECHANISM* m, CK_ATTRIBUTE* pt,
                                   CK_ULONG pn, CK_ATTRIBUTE* kt, CK_ULONG kn, CK_OBJECT_HANDLE* pk,
                                   CK_OBJECT_HANDLE* k) {
      return failing == GenerateKeyPair ? failure
                                        : real.C_GenerateKeyPair(h, m, pt, pn, kt, kn, pk, k);
    };
    patched.C_Sign = [](CK_SESSION_HANDLE h, CK_BYTE* d, CK_ULONG n, CK_BYTE* s, CK_ULONG* l) {
      return failing == Sign ? failure : real.C_Sign(h, d, n, s, l);
    };
    patched.C_FindObjectsInit = [](CK_SESSION_HANDLE h, CK_ATTRIBUTE* t, CK_ULONG n) {
      return failing == FindObjectsInit ? failure : real.C_FindObjectsInit(h, t, n);
    };
    return &patched;
  }
};

class TokenTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUpToken(true); }
  void TearDown() override {
    Seam::failing = Seam::None;
    Seam::pinPad = false;
  }

  void SetUpToken(bool initialised) {
    dir = std::filesystem::path(ZVCERT_TOKEN_TEST_DIR) /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "tokens");
    std::ofstream(dir / "softhsm2.conf")
        << "directories.tokendir = " << (dir / "tokens").string() << "\nlog.level = ERROR\n";
    setenv("SOFTHSM2_CONF", (dir / "softhsm2.conf").c_str(), 1);
    setenv("ZVCERT_PKCS11_MODULE", kSoftHsm, 1);
    if (initialised) Shell("softhsm2-util --init-token --free --label T --pin 1234 --so-pin 5678");
    root = MakeRoot("root");
    Seam::opened = Seam::closed = 0;
    store = std::make_unique<TokenStore>(ConfiguredModulePath(), root, &Seam::Hook);
  }

  // A self-signed root whose key lies beside it (<name>.key).
  std::string MakeRoot(const std::string& name) {
    const std::string at = (dir / name).string();
    return Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/O=ZV/CN=" +
                 std::string(kRootName) + "' -keyout " + at + ".key -out " + at +
                 ".pem 2>/dev/null && cat " + at + ".pem");
  }
  // The PEM certificate the named root issues for a DER request.
  std::string Issue(std::span<const uint8_t> request, const std::string& by, uint64_t serial) {
    std::ofstream(dir / "request.der", std::ios::binary)
        .write(reinterpret_cast<const char*>(request.data()), request.size());
    const std::string ca = (dir / by).string();
    return Shell("openssl x509 -req -inform DER -in " + (dir / "request.der").string() + " -CA " +
                 ca + ".pem -CAkey " + ca + ".key -days 1 -set_serial " + std::to_string(serial) +
                 " 2>/dev/null");
  }
  // Every object on the token, private ones too, as another program sees it.
  std::string ListObjects() {
    return Shell(std::string("pkcs11-tool --module ") + kSoftHsm +
                 " --token-label T --login --pin 1234 --list-objects 2>/dev/null");
  }
  int ObjectCount() {
    const std::string list = ListObjects();
    int count = 0;
    for (size_t at = 0; (at = list.find("Object;", at)) != std::string::npos; ++at) ++count;
    return count;
  }

  std::filesystem::path dir;
  std::string root;
  std::unique_ptr<TokenStore> store;
};

// Whether signature (most significant byte first) is the build's signature
// of data by the certificate's key.
inline bool Verifies(std::span<const uint8_t> certificate, std::string_view data,
                     std::span<const uint8_t> signature) {
  constexpr const char* kHashes[] = {"SHA1", "SHA256", "SHA384", "SHA512"};
  const uint8_t* in = certificate.data();
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      d2i_X509(nullptr, &in, static_cast<long>(certificate.size())), X509_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  return cert &&
         EVP_DigestVerifyInit(context.get(), nullptr,
                              EVP_get_digestbyname(kHashes[static_cast<int>(kSignatureHash)]),
                              nullptr, X509_get0_pubkey(cert.get())) == 1 &&
         EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                          reinterpret_cast<const uint8_t*>(data.data()), data.size()) == 1;
}

}  // namespace zvcert::testing
