// Soak: many enrolment cycles in one plug-in instance, then many instances
// made and destroyed, through the DLL as a browser drives it. Prints the
// process's handle table (as the next handle value) and private memory, and
// the store's and the key containers' counts, at the start and the end.
// Fails when a step fails, the browser saw misuse, the store or the key
// containers differ, or private memory grew; handle growth is reported
// beside what the same key-container steps cost in plain CryptoAPI calls.
//   soak.exe [cycles=1000] [instances=200]
#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "browser/test_browser.h"
#include "support/test_ca.h"

namespace {

using namespace testbrowser;

constexpr char kRoot[] = "ZVCERT Root CA";  // the shipped DLL's built-in root
// Private memory may wobble by what the allocator keeps; a leak of one
// request, key or certificate per cycle would exceed this many times over.
constexpr double kMemorySlackKiB = 1024;

struct Figures {
  DWORD handles = 0;
  double privateKiB = 0;
  int certificates = 0;
  int containers = 0;
};

int CountCertificates() {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  int n = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    ++n;
  }
  CertCloseStore(store, 0);
  return n;
}

int CountContainers() {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return -1;
  int n = 0;
  char name[1024];
  DWORD size = sizeof name;
  for (DWORD flags = CRYPT_FIRST; CryptGetProvParam(prov, PP_ENUMCONTAINERS,
                                                    reinterpret_cast<BYTE*>(name), &size, flags);
       flags = 0, size = sizeof name) {
    ++n;
  }
  CryptReleaseContext(prov, 0);
  return n;
}

// The value the next new handle gets. Handle values are handed out lowest
// free first, so open handles that pile up push it upwards; unlike the
// process's handle count, this works under Wine too.
DWORD NextHandleValue() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const auto value = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe));
  CloseHandle(probe);
  return value;
}

Figures Measure() {
  Figures f;
  f.handles = NextHandleValue();
  PROCESS_MEMORY_COUNTERS_EX memory{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                       sizeof memory);
  // Wine leaves PrivateUsage at 0; the committed page-file share is the same
  // figure there.
  f.privateKiB = (memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage) / 1024.0;
  f.certificates = CountCertificates();
  f.containers = CountContainers();
  return f;
}

void Print(const char* when, const Figures& f) {
  std::printf("%-22s next handle %#6lx  private %9.0f KiB  certificates %3d  key containers %3d\n",
              when, f.handles, f.privateKiB, f.certificates, f.containers);
}

// Wine's key provider keeps handles open when key containers are created,
// opened and deleted, with no plug-in involved. The soak first measures
// what the key-container steps of one cycle cost when made with plain
// CryptoAPI calls (a new container with an imported key, opened again to
// sign, then deleted, as ImportCert, CertSign and DelCert do), and allows
// exactly that much per cycle.
double PlatformHandlesPerCycle() {
  const std::vector<uint8_t> blob = zvcert::testing::NewKeyBlob();
  constexpr int kRounds = 20;
  const DWORD before = NextHandleValue();
  for (int i = 0; i < kRounds; ++i) {
    const std::string name = "{ZVCERT-SOAK-CALIBRATION-" + std::to_string(i) + "}";
    HCRYPTPROV prov = 0, none = 0;
    HCRYPTKEY key = 0;
    char provider[256] = {};
    DWORD providerSize = sizeof provider;
    if (CryptAcquireContextA(&prov, name.c_str(), nullptr, PROV_RSA_FULL,
                             CRYPT_SILENT | CRYPT_NEWKEYSET)) {
      if (CryptImportKey(prov, blob.data(), blob.size(), 0, 0, &key)) CryptDestroyKey(key);
      CryptGetProvParam(prov, PP_NAME, reinterpret_cast<BYTE*>(provider), &providerSize, 0);
      CryptReleaseContext(prov, 0);
    }
    if (CryptAcquireContextA(&prov, name.c_str(), provider, PROV_RSA_FULL, CRYPT_SILENT)) {
      HCRYPTHASH hash = 0;
      BYTE signature[128];
      DWORD length = sizeof signature;
      if (CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash)) {
        CryptHashData(hash, reinterpret_cast<const BYTE*>("x"), 1, 0);
        CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature, &length);
        CryptDestroyHash(hash);
      }
      CryptReleaseContext(prov, 0);
    }
    CryptAcquireContextA(&none, name.c_str(), provider, PROV_RSA_FULL,
                         CRYPT_SILENT | CRYPT_DELETEKEYSET);
  }
  return (static_cast<double>(NextHandleValue()) - before) / kRounds;
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
  if (!deleted.ok || std::get<int32_t>(deleted.value) != 1) return std::puts("DelCert failed"), false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int instances = argc > 2 ? std::atoi(argv[2]) : 200;
  zvcert::testing::PurgeIssuer(kRoot);
  Browser browser;
  if (!browser.loaded() || browser.Start() != NPERR_NO_ERROR) return std::puts("no plug-in"), 2;
  const zvcert::testing::TestCa ca(kRoot);

  bool ok = true;
  Figures start;
  double platformGrowth = 0;
  {
    auto instance = browser.NewInstance();
    auto object = instance->GetScriptableObject();
    platformGrowth = PlatformHandlesPerCycle();
    std::printf("next-handle growth of one cycle's key-container steps in plain CryptoAPI: "
                "%+.1f\n", platformGrowth);
    // A few cycles first, so that one-time allocations are behind us.
    for (int i = 0; i < 3 && ok; ++i) ok = Cycle(*object, ca, 0xFF0000 + i);
    start = Measure();
    Print("start", start);
    for (int i = 0; i < cycles && ok; ++i) {
      ok = Cycle(*object, ca, i);
      if (ok && (i + 1) % 100 == 0) Print(("after " + std::to_string(i + 1) + " cycles").c_str(), Measure());
    }
    object.reset();
    instance->Destroy();
  }
  for (int i = 0; i < instances && ok; ++i) {
    auto instance = browser.NewInstance();
    auto object = instance->GetScriptableObject();
    ok = object != nullptr && object->GetProperty("Version").ok &&
         object->Invoke("Base64Encode", {std::string("x")}).ok;
    object.reset();
    instance->Destroy();
  }
  const Figures end = Measure();
  Print(("end (" + std::to_string(cycles) + " cycles, " + std::to_string(instances) + " instances)").c_str(), end);

  const bool clean = Browser::UnexpectedCalls().empty() && Browser::Errors().empty() &&
                     Browser::OutstandingAllocations() == 0 && Browser::LiveObjects() == 0;
  const double allowed = platformGrowth * cycles;
  const bool steady = end.certificates == start.certificates &&
                      end.containers == start.containers &&
                      end.privateKiB - start.privateKiB <= kMemorySlackKiB;
  std::printf("steps %s, browser %s, growth: next handle %+ld (the platform's share %+.0f), "
              "private %+.0f KiB, certificates %+d, key containers %+d\n",
              ok ? "ok" : "FAILED", clean ? "clean" : "NOT CLEAN",
              static_cast<long>(end.handles) - static_cast<long>(start.handles), allowed,
              end.privateKiB - start.privateKiB, end.certificates - start.certificates,
              end.containers - start.containers);
  zvcert::testing::PurgeIssuer(kRoot);
  return ok && clean && steady ? 0 : 1;
}
