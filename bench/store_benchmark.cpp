// Latency of the certificate methods as the store grows: FindCert,
// IsCertExist and CertSign with 10, 100 and 1 000 of the authority's
// certificates in "MY", and GetCSR and ImportCert. Medians, through the test
// browser with the plug-in linked in.
//   store_benchmark [largest store = 1000] [calls per figure = 21]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/test_browser.h"
#include "clock.h"
#include "script/scriptable_object.h"
#include "support/test_ca.h"

namespace {

using namespace testbrowser;

constexpr char kRoot[] = "ZVCERT Root CA";  // the root this program is built with

template <typename Call>
double MedianMs(int calls, Call call) {
  std::vector<double> times;
  for (int i = 0; i < calls; ++i) {
    const double start = Now();
    call(i);
    times.push_back((Now() - start) * 1e3);
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 21;
  zvcert::testing::PurgeIssuer(kRoot);
  const zvcert::testing::TestCa ca(kRoot);
  Browser browser(EntryPoints{NP_GetEntryPoints, NP_Initialize, NP_Shutdown});
  if (browser.Start() != NPERR_NO_ERROR) return 1;
  auto instance = browser.NewInstance();
  auto object = instance->GetScriptableObject();
  auto* state = static_cast<zvcert::ScriptablePluginObject*>(object->get());

  // The certificate the methods look for, enrolled first so that it is not
  // simply the last one added.
  const double getCsr = MedianMs(calls, [&](int) { object->Invoke("GetCSR"); });
  std::vector<uint8_t> key(state->pendingKeyBlob.begin(),
                           state->pendingKeyBlob.begin() + state->pendingKeyLength);
  const std::string pem = zvcert::testing::ToPem(
      ca.Issue({{"2.5.4.3", "Benchmark User"}}, {0x01, 0x00, 0x00, 0x01}, key));
  const double importCert = MedianMs(calls, [&](int) {
    std::copy(key.begin(), key.end(), state->pendingKeyBlob.begin());
    state->pendingKeyLength = static_cast<int32_t>(key.size());
    object->Invoke("ImportCert", {pem});
  });
  std::printf("GetCSR       %8.2f ms\nImportCert   %8.2f ms (replacing the same certificate)\n",
              getCsr, importCert);

  const std::string serial = std::to_string(0x01000001);
  std::printf("%-14s %12s %12s %12s\n", "certificates", "FindCert", "IsCertExist", "CertSign");
  int inStore = 1;
  const std::vector<uint8_t> otherKey = zvcert::testing::NewKeyBlob();
  for (int target : {10, 100, 1000}) {
    if (target > largest) break;
    // Fill with further certificates from the authority (without keys).
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    for (; inStore < target; ++inStore) {
      const std::vector<uint8_t> der = ca.Issue(
          {{"2.5.4.3", "Filler " + std::to_string(inStore)}},
          {0x02, static_cast<uint8_t>(inStore >> 8), static_cast<uint8_t>(inStore)}, otherKey);
      CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), der.size(),
                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
    CertCloseStore(store, 0);
    const double find = MedianMs(calls, [&](int) {
      object->Invoke("FindCert", {std::string("CN"), std::string("Benchmark User")});
    });
    const double exists = MedianMs(calls, [&](int) { object->Invoke("IsCertExist", {serial}); });
    const double sign = MedianMs(calls, [&](int) {
      object->Invoke("CertSign", {serial, std::string("ZGF0YQ==")});
    });
    std::printf("%-14d %9.2f ms %9.2f ms %9.2f ms\n", inStore, find, exists, sign);
  }
  object.reset();
  instance->Destroy();
  zvcert::testing::PurgeIssuer(kRoot);
  return 0;
}
