// Soak: many enrolment cycles in one plug-in instance, then many instances
// made and destroyed, with the plug-in linked in so that what grows can be
// told apart: handles opened inside the platform's own functions (every
// CryptoAPI and crypt32 call goes through one table, wrapped here) from
// handles opened anywhere else, and the process's C++ heap (counted through
// operator new and delete) from the platform's own heaps. The store and the
// key containers must end as they began.
//   soak.exe [cycles=1000] [instances=200]
#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "browser/test_browser.h"
#include "store/platform.h"
#include "support/test_ca.h"

// ---- the process's C++ heap, counted -----------------------------------------

namespace {
std::atomic<long> liveAllocations{0};
}

void* operator new(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  ++liveAllocations;
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) ++liveAllocations;
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  --liveAllocations;
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

namespace {

using namespace testbrowser;
using zvcert::platform;
using zvcert::PlatformServices;

constexpr char kRoot[] = "ZVCERT Root CA";  // the root this program is built with

// The value the next new handle gets. Handle values are handed out lowest
// free first, so open handles that pile up push it upwards (the process's
// handle count is not kept by Wine).
long NextHandle() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const auto value = static_cast<long>(reinterpret_cast<uintptr_t>(probe));
  CloseHandle(probe);
  return value / 4;
}

// Handle growth inside each platform function.
PlatformServices real;
std::map<std::string, long> platformGrowth;

template <auto Field>
struct Measured;
template <typename R, typename... A, R (*PlatformServices::*Field)(A...)>
struct Measured<Field> {
  static const char* name;
  static R Call(A... args) {
    const long before = NextHandle();
    R result = (real.*Field)(args...);
    platformGrowth[name] += NextHandle() - before;
    return result;
  }
};
template <typename R, typename... A, R (*PlatformServices::*Field)(A...)>
const char* Measured<Field>::name = nullptr;

#define MEASURE(field)                                \
  Measured<& PlatformServices::field>::name = #field; \
  platform.field = Measured<&PlatformServices::field>::Call

void MeasurePlatform() {
  real = platform;
  MEASURE(openPersonalStore);
  MEASURE(enumCertificates);
  MEASURE(getNameAttribute);
  MEASURE(getNameAttributeW);
  MEASURE(getKeyProvInfo);
  MEASURE(setKeyProvInfo);
  MEASURE(addCertificate);
  MEASURE(createCertificate);
  MEASURE(deleteCertificate);
  MEASURE(freeCertificate);
  MEASURE(commitStore);
  MEASURE(closeStore);
  MEASURE(acquireContext);
  MEASURE(getProviderName);
  MEASURE(getDefaultProviderName);
  MEASURE(generateSignatureKey);
  MEASURE(exportKey);
  MEASURE(importPrivateKey);
  MEASURE(createHash);
  MEASURE(hashData);
  MEASURE(signHash);
  MEASURE(destroyHash);
  MEASURE(destroyKey);
  MEASURE(releaseContext);
  MEASURE(createUuid);
  MEASURE(uuidToString);
  MEASURE(freeRpcString);
}

long PlatformGrowthTotal() {
  long total = 0;
  for (const auto& [name, growth] : platformGrowth) total += growth;
  return total;
}

struct Figures {
  long nextHandle = 0;
  long insidePlatform = 0;
  long heapAllocations = 0;
  double privateKiB = 0;
  int certificates = 0;
  int containers = 0;
};

Figures Measure() {
  Figures f;
  f.certificates = static_cast<int>(zvcert::testing::PersonalCertificates().size());
  f.containers = zvcert::testing::CountContainers();
  PROCESS_MEMORY_COUNTERS_EX memory{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                       sizeof memory);
  // Wine leaves PrivateUsage at 0; its page-file share is the same figure.
  f.privateKiB = (memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage) / 1024.0;
  f.heapAllocations = liveAllocations;
  f.insidePlatform = PlatformGrowthTotal();
  f.nextHandle = NextHandle();
  return f;
}

void Print(const std::string& when, const Figures& f) {
  std::printf(
      "%-30s handles %5ld (grown inside platform calls %5ld)  C++ heap blocks %6ld  "
      "private %8.0f KiB  certificates %3d  key containers %3d\n",
      when.c_str(), f.nextHandle, f.insidePlatform, f.heapAllocations, f.privateKiB, f.certificates,
      f.containers);
}

// One enrolment cycle; false (with a message) when a step did not do its job.
bool Cycle(const ScriptObject& object, const zvcert::testing::TestCa& ca, uint32_t n) {
  const CallResult request = object.Invoke("GetCSR");
  if (!request.ok) return std::puts("GetCSR failed"), false;
  const std::vector<uint8_t> serial = {0x01, static_cast<uint8_t>(n >> 16),
                                       static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  const std::vector<uint8_t> der = ca.IssueForRequest(std::get<std::string>(request.value), serial);
  if (der.empty()) return std::puts("the test CA issued nothing"), false;
  const CallResult imported = object.Invoke("ImportCert", {zvcert::testing::ToPem(der)});
  if (!imported.ok) return std::puts("ImportCert failed"), false;
  const std::string decimal = std::to_string((1u << 24) | n);
  const CallResult signature = object.Invoke("CertSign", {decimal, std::string("c29haw==")});
  if (!signature.ok || std::get<std::string>(signature.value).size() != 184) {
    return std::puts("CertSign failed"), false;
  }
  const CallResult deleted = object.Invoke("DelCert", {decimal});
  if (!deleted.ok || std::get<int32_t>(deleted.value) != 1) {
    return std::puts("DelCert failed"), false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int instances = argc > 2 ? std::atoi(argv[2]) : 200;
  zvcert::testing::PurgeIssuer(kRoot);
  bool ok = true;
  Figures start, end;
  {
    const zvcert::testing::TestCa ca(kRoot);
    Browser browser(EntryPoints{NP_GetEntryPoints, NP_Initialize, NP_Shutdown});
    if (browser.Start() != NPERR_NO_ERROR) return std::puts("no plug-in"), 2;
    MeasurePlatform();
    {
      auto instance = browser.NewInstance();
      auto object = instance->GetScriptableObject();
      // A few cycles first, so that one-time allocations are behind us.
      for (int i = 0; i < 3 && ok; ++i) ok = Cycle(*object, ca, 0xFF0000 + i);
      start = Measure();
      Print("start", start);
      for (int i = 0; i < cycles && ok; ++i) {
        ok = Cycle(*object, ca, i);
        if (ok && (i + 1) % 100 == 0)
          Print("after " + std::to_string(i + 1) + " cycles", Measure());
      }
      object.reset();
      instance->Destroy();
    }
    for (int i = 0; i < instances && ok; ++i) {
      auto instance = browser.NewInstance();
      auto object = instance->GetScriptableObject();
      ok = object != nullptr && object->GetProperty("HostName").ok &&
           object->Invoke("Base64Encode", {std::string("x")}).ok;
      object.reset();
      instance->Destroy();
    }
    end = Measure();
    Print("end: " + std::to_string(cycles) + " cycles, " + std::to_string(instances) + " instances",
          end);
    ok = ok && Browser::UnexpectedCalls().empty() && Browser::Errors().empty() &&
         Browser::OutstandingAllocations() == 0 && Browser::LiveObjects() == 0;
  }
  std::puts("handle growth inside each platform function over the whole run:");
  for (const auto& [name, growth] : platformGrowth) {
    if (growth != 0) std::printf("  %-22s %+ld\n", name.c_str(), growth);
  }
  const long handlesOutside =
      (end.nextHandle - start.nextHandle) - (end.insidePlatform - start.insidePlatform);
  const long heapGrowth = end.heapAllocations - start.heapAllocations;
  const bool steady = handlesOutside <= 0 && heapGrowth <= 0 &&
                      end.certificates == start.certificates && end.containers == start.containers;
  std::printf(
      "steps and browser %s; growth: handles outside platform calls %+ld, C++ heap "
      "blocks %+ld, private %+.0f KiB, certificates %+d, key containers %+d\n",
      ok ? "ok" : "FAILED", handlesOutside, heapGrowth, end.privateKiB - start.privateKiB,
      end.certificates - start.certificates, end.containers - start.containers);
  zvcert::testing::PurgeIssuer(kRoot);
  return ok && steady ? 0 : 1;
}
