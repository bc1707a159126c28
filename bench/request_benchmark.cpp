// How long GetCSR takes and how much of it is the module's own work: every
// platform call made during the call is timed, so the rest is the module's
// (subject parsing, DER, Base64, PEM, copies). Prints medians over N calls.
//   request_benchmark.exe [calls=100]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "browser/test_browser.h"
#include "clock.h"
#include "store/platform.h"

namespace {

using namespace zvcert;

PlatformServices real;
double platformSeconds = 0;  // platform time within the current call
double keySeconds = 0;       // of which key generation

// Times one platform call.
template <typename F>
auto Timed(F call, double* also = nullptr) {
  const double start = Now();
  auto result = call();
  const double spent = Now() - start;
  platformSeconds += spent;
  if (also != nullptr) *also += spent;
  return result;
}

void InstallTimers() {
  real = platform;
  platform.acquireContext = [](HCRYPTPROV* p, const char* c, const char* n, DWORD t, DWORD f) {
    return Timed([&] { return real.acquireContext(p, c, n, t, f); });
  };
  platform.generateSignatureKey = [](HCRYPTPROV p, HCRYPTKEY* k) {
    return Timed([&] { return real.generateSignatureKey(p, k); }, &keySeconds);
  };
  platform.exportKey = [](HCRYPTKEY k, DWORD t, BYTE* b, DWORD* s) {
    return Timed([&] { return real.exportKey(k, t, b, s); });
  };
  platform.createHash = [](HCRYPTPROV p, HCRYPTHASH* h) {
    return Timed([&] { return real.createHash(p, h); });
  };
  platform.hashData = [](HCRYPTHASH h, const BYTE* d, DWORD s) {
    return Timed([&] { return real.hashData(h, d, s); });
  };
  platform.signHash = [](HCRYPTHASH h, BYTE* b, DWORD* s) {
    return Timed([&] { return real.signHash(h, b, s); });
  };
  platform.destroyHash = [](HCRYPTHASH h) { return Timed([&] { return real.destroyHash(h); }); };
  platform.destroyKey = [](HCRYPTKEY k) { return Timed([&] { return real.destroyKey(k); }); };
  platform.releaseContext = [](HCRYPTPROV p) {
    return Timed([&] { return real.releaseContext(p); });
  };
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  testbrowser::Browser browser(
      testbrowser::EntryPoints{NP_GetEntryPoints, NP_Initialize, NP_Shutdown});
  if (browser.Start() != NPERR_NO_ERROR) return 1;
  auto instance = browser.NewInstance();
  auto object = instance->GetScriptableObject();
  if (object == nullptr) return 1;
  object->Invoke("GetCSR");  // reads the root name once, outside the figures
  InstallTimers();

  std::vector<double> total, platformPart, keyPart, modulePart, share;
  for (int i = 0; i < calls; ++i) {
    platformSeconds = keySeconds = 0;
    const double start = Now();
    const bool ok = object->Invoke("GetCSR").ok;
    const double spent = Now() - start;
    if (!ok) {
      std::fprintf(stderr, "GetCSR failed on call %d\n", i + 1);
      return 1;
    }
    total.push_back(spent * 1e3);
    platformPart.push_back(platformSeconds * 1e3);
    keyPart.push_back(keySeconds * 1e3);
    modulePart.push_back((spent - platformSeconds) * 1e3);
    share.push_back(100 * (spent - platformSeconds) / spent);
  }
  std::printf("GetCSR with RSA-%u keys, %d calls, medians:\n", static_cast<unsigned>(kKeyBits),
              calls);
  std::printf("  whole call        %8.3f ms\n", Median(total));
  std::printf("  platform work     %8.3f ms  (key generation %.3f ms)\n", Median(platformPart),
              Median(keyPart));
  std::printf("  module's own work %8.3f ms\n", Median(modulePart));
  std::printf("  module's share    %8.3f %%  (goal: below 5 %%)\n", Median(share));
  return 0;
}
