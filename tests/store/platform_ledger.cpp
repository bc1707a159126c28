#include "store/platform_ledger.h"

#include <type_traits>

namespace zvcert::testing {
namespace {

constexpr std::array<const char*, static_cast<size_t>(HandleKind::kCount)> kKindNames = {
    "Store", "Certificate", "Provider", "Key", "Hash", "RpcString", "Message"};

struct State {
  PlatformServices real{};
  std::array<int, static_cast<size_t>(HandleKind::kCount)> open{};
  std::array<int, static_cast<size_t>(Op::kCount)> calls{};
  std::array<int, static_cast<size_t>(Op::kCount)> failAt{};  // call number to fail, 0: none
  std::array<bool, static_cast<size_t>(Op::kCount)> failAll{};
  int total = 0;
  int failTotalAt = 0;  // the call number, of any operation, to fail; 0: none
};

State& state() {
  static State s;
  return s;
}

// Counts the call; true when this one is to fail.
bool Enter(Op op) {
  const auto i = static_cast<size_t>(op);
  const int n = ++state().calls[i];
  const int total = ++state().total;
  return state().failAll[i] || state().failAt[i] == n || state().failTotalAt == total;
}

void Acquired(HandleKind kind, bool yes) {
  if (yes) ++state().open[static_cast<size_t>(kind)];
}
void Released(HandleKind kind, bool yes) {
  if (yes) --state().open[static_cast<size_t>(kind)];
}

const PlatformServices& real() { return state().real; }

bool Succeeded(BOOL ok) { return ok != FALSE; }
bool Succeeded(RPC_STATUS status) { return status == RPC_S_OK; }
template <typename T>
bool Succeeded(T* handle) {
  return handle != nullptr;
}

// What a call told to fail answers: the platform's own failure result.
template <typename Result>
Result Failure() {
  if constexpr (std::is_same_v<Result, RPC_STATUS>) return RPC_S_OUT_OF_MEMORY;
  return Result{};
}

// How an operation moves the handle counts: before the call, on a failure
// the ledger makes, and after the real call. Most operations move none.
struct NoHandles {
  static constexpr bool kCanFail = true;
  template <typename... Arguments>
  static void Before(Arguments...) {}
  template <typename... Arguments>
  static void Failed(Arguments...) {}
  template <typename Result, typename... Arguments>
  static void After(Result, Arguments...) {}
};

// A handle that the result (or the out parameter) holds when the call succeeds.
template <HandleKind kind>
struct Acquires : NoHandles {
  template <typename Result, typename... Arguments>
  static void After(Result result, Arguments...) {
    Acquired(kind, Succeeded(result));
  }
};

// The first argument is released whatever happens, so the ledger never fails
// the call: the module can do nothing about a release that fails.
template <HandleKind kind>
struct Releases : NoHandles {
  static constexpr bool kCanFail = false;
  template <typename Handle, typename... Arguments>
  static void Before(Handle handle, Arguments...) {
    Released(kind, handle != Handle{});
  }
};

// Each operation's rule; an operation not named below moves no handle.
template <Op>
struct Rule : NoHandles {};
// clang-format off
template <> struct Rule<Op::openPersonalStore>    : Acquires<HandleKind::Store> {};
template <> struct Rule<Op::openRequestStore>     : Acquires<HandleKind::Store> {};
template <> struct Rule<Op::duplicateCertificate> : Acquires<HandleKind::Certificate> {};
template <> struct Rule<Op::createSelfSigned>     : Acquires<HandleKind::Certificate> {};
template <> struct Rule<Op::generateKeptSignatureKey> : Acquires<HandleKind::Key> {};
template <> struct Rule<Op::createCertificate>    : Acquires<HandleKind::Certificate> {};
template <> struct Rule<Op::generateSignatureKey> : Acquires<HandleKind::Key> {};
template <> struct Rule<Op::importPrivateKey>     : Acquires<HandleKind::Key> {};
template <> struct Rule<Op::createHash>           : Acquires<HandleKind::Hash> {};
template <> struct Rule<Op::uuidToString>         : Acquires<HandleKind::RpcString> {};
template <> struct Rule<Op::openSignedMessage>    : Acquires<HandleKind::Message> {};
template <> struct Rule<Op::freeCertificate>      : Releases<HandleKind::Certificate> {};
template <> struct Rule<Op::closeStore>           : Releases<HandleKind::Store> {};
template <> struct Rule<Op::destroyHash>          : Releases<HandleKind::Hash> {};
template <> struct Rule<Op::destroyKey>           : Releases<HandleKind::Key> {};
template <> struct Rule<Op::releaseContext>       : Releases<HandleKind::Provider> {};
template <> struct Rule<Op::freeRpcString>        : Releases<HandleKind::RpcString> {};
template <> struct Rule<Op::closeMessage>         : Releases<HandleKind::Message> {};
// clang-format on

template <>
struct Rule<Op::enumCertificates> : NoHandles {
  // The previous context is released whatever happens.
  static void Before(HCERTSTORE, PCCERT_CONTEXT previous) {
    Released(HandleKind::Certificate, previous != nullptr);
  }
  static void Failed(HCERTSTORE, PCCERT_CONTEXT previous) {
    if (previous != nullptr) real().freeCertificate(previous);
  }
  static void After(PCCERT_CONTEXT next, HCERTSTORE, PCCERT_CONTEXT) {
    Acquired(HandleKind::Certificate, next != nullptr);
  }
};

template <>
struct Rule<Op::findByPublicKey> : NoHandles {
  static void Before(HCERTSTORE, const CERT_PUBLIC_KEY_INFO*, PCCERT_CONTEXT previous) {
    Released(HandleKind::Certificate, previous != nullptr);
  }
  static void Failed(HCERTSTORE, const CERT_PUBLIC_KEY_INFO*, PCCERT_CONTEXT previous) {
    if (previous != nullptr) real().freeCertificate(previous);
  }
  static void After(PCCERT_CONTEXT next, HCERTSTORE, const CERT_PUBLIC_KEY_INFO*, PCCERT_CONTEXT) {
    Acquired(HandleKind::Certificate, next != nullptr);
  }
};

template <>
struct Rule<Op::deleteCertificate> : NoHandles {
  static void Before(PCCERT_CONTEXT cert) { Released(HandleKind::Certificate, cert != nullptr); }
  // The platform frees the context even when the deletion fails.
  static void Failed(PCCERT_CONTEXT cert) { real().freeCertificate(cert); }
};

template <>
struct Rule<Op::addCertificate> : NoHandles {
  static void After(BOOL ok, HCERTSTORE, PCCERT_CONTEXT, PCCERT_CONTEXT* stored) {
    Acquired(HandleKind::Certificate, ok && stored != nullptr && *stored != nullptr);
  }
};

template <>
struct Rule<Op::acquireContext> : NoHandles {
  static void After(BOOL ok, HCRYPTPROV*, const char*, const char*, DWORD, DWORD flags) {
    Acquired(HandleKind::Provider, ok && (flags & CRYPT_DELETEKEYSET) == 0);
  }
};

// The ledger's entry for op: counts the call, fails it when told to, and
// moves the handle counts as the operation's rule says.
template <Op op, auto entry, typename Result, typename... Parameters>
Result Counted(Parameters... arguments) {
  Rule<op>::Before(arguments...);
  if (Enter(op) && Rule<op>::kCanFail) {
    Rule<op>::Failed(arguments...);
    return Failure<Result>();
  }
  const Result result = (real().*entry)(arguments...);
  Rule<op>::After(result, arguments...);
  return result;
}

// Every member of the table is an entry of the list, so the ledger counts
// every platform call.
static_assert(sizeof(PlatformServices) == static_cast<size_t>(Op::kCount) * sizeof(void (*)()));

constexpr std::array<const char*, static_cast<size_t>(Op::kCount)> kOpNames = {
#define ZVCERT_LEDGER_NAME(name, ...) #name,
    ZVCERT_PLATFORM_ENTRIES(ZVCERT_LEDGER_NAME)
#undef ZVCERT_LEDGER_NAME
};

}  // namespace

const char* OpName(Op op) { return kOpNames[static_cast<size_t>(op)]; }
const char* KindName(HandleKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

PlatformLedger::PlatformLedger() {
  state() = State{};
  state().real = platform;
#define ZVCERT_LEDGER_ENTRY(name, ...) .name = Counted<Op::name, &PlatformServices::name>,
  platform = PlatformServices{ZVCERT_PLATFORM_ENTRIES(ZVCERT_LEDGER_ENTRY)};
#undef ZVCERT_LEDGER_ENTRY
}

PlatformLedger::~PlatformLedger() { platform = state().real; }

int PlatformLedger::open(HandleKind kind) const { return state().open[static_cast<size_t>(kind)]; }

std::string PlatformLedger::openHandles() const {
  std::string list;
  for (size_t i = 0; i < kKindNames.size(); ++i) {
    if (state().open[i] == 0) continue;
    if (!list.empty()) list += ", ";
    list += std::string(kKindNames[i]) + " " + std::to_string(state().open[i]);
  }
  return list;
}

int PlatformLedger::calls(Op op) const { return state().calls[static_cast<size_t>(op)]; }

void PlatformLedger::FailCall(Op op, int nth) {
  const auto i = static_cast<size_t>(op);
  state().failAt[i] = nth == 0 ? 0 : state().calls[i] + nth;
  if (nth == 0) state().failAll[i] = false;
}

void PlatformLedger::FailEveryCall(Op op) { state().failAll[static_cast<size_t>(op)] = true; }

int PlatformLedger::totalCalls() const { return state().total; }

void PlatformLedger::FailNthCall(int nth) {
  state().failTotalAt = nth == 0 ? 0 : state().total + nth;
}

}  // namespace zvcert::testing
