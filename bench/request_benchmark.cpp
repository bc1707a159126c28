// How long GetCSR takes and how much of it is the module's own work: every
// platform call made during the call is timed, so the rest is the module's
// (subject parsing, DER, Base64, PEM, copies). Prints medians over N calls.
// A build that keeps pending keys in the store also records and prunes
// requests, at most kPendingLimit of them kept as it runs.
//   request_benchmark.exe [calls=100]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "browser/test_browser.h"
#include "clock.h"
#include "store/pending.h"
#include "store/pending_keys.h"
#include "store/platform.h"

namespace {

using namespace zvcert;

PlatformServices real;
double platformSeconds = 0;  // platform time within the current call
double keySeconds = 0;       // of which key generation

// Every platform entry timed, key generation also on its own.
template <auto entry, typename Result, typename... Parameters>
Result Timed(Parameters... arguments) {
  const double start = Now();
  const Result result = (real.*entry)(arguments...);
  const double spent = Now() - start;
  platformSeconds += spent;
  using KeyEntry = decltype(&PlatformServices::generateSignatureKey);
  if constexpr (std::is_same_v<decltype(entry), KeyEntry>) {
    if (entry == &PlatformServices::generateSignatureKey ||
        entry == &PlatformServices::generateKeptSignatureKey) {
      keySeconds += spent;
    }
  }
  return result;
}

void InstallTimers() {
  real = platform;
#define ZVCERT_TIMED_ENTRY(name, ...) platform.name = Timed<&PlatformServices::name>;
  ZVCERT_PLATFORM_ENTRIES(ZVCERT_TIMED_ENTRY)
#undef ZVCERT_TIMED_ENTRY
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
    // Each request goes as if long abandoned, or the next would find no room.
    if (PendingKeyPolicy::kRequestChangesStore)
      PrunePendingRequests(CurrentTime() + 100000 * kTicksPerDay);
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
  std::printf("GetCSR with RSA-%u keys, pending in %s, %d calls, medians:\n",
              static_cast<unsigned>(kKeyBits),
              kPendingKeys == PendingKeys::Store ? "the store" : "memory", calls);
  std::printf("  whole call        %8.3f ms\n", Median(total));
  std::printf("  platform work     %8.3f ms  (key generation %.3f ms)\n", Median(platformPart),
              Median(keyPart));
  std::printf("  module's own work %8.3f ms\n", Median(modulePart));
  std::printf("  module's share    %8.3f %%  (goal: below 5 %%)\n", Median(share));
  return 0;
}
