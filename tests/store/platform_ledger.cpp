#include "store/platform_ledger.h"

namespace zvcert::testing {
namespace {

constexpr std::array<const char*, static_cast<size_t>(HandleKind::kCount)> kKindNames = {
    "Store", "Certificate", "Provider", "Key", "Hash", "RpcString"};

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

void Acquired(HandleKind kind, bool yes = true) {
  if (yes) ++state().open[static_cast<size_t>(kind)];
}
void Released(HandleKind kind, bool yes = true) {
  if (yes) --state().open[static_cast<size_t>(kind)];
}

const PlatformServices& real() { return state().real; }

HCERTSTORE OpenPersonalStore() {
  if (Enter(Op::openPersonalStore)) return nullptr;
  HCERTSTORE store = real().openPersonalStore();
  Acquired(HandleKind::Store, store != nullptr);
  return store;
}

PCCERT_CONTEXT EnumCertificates(HCERTSTORE store, PCCERT_CONTEXT previous) {
  // The previous context is released whatever happens.
  Released(HandleKind::Certificate, previous != nullptr);
  if (Enter(Op::enumCertificates)) {
    if (previous != nullptr) real().freeCertificate(previous);
    return nullptr;
  }
  PCCERT_CONTEXT next = real().enumCertificates(store, previous);
  Acquired(HandleKind::Certificate, next != nullptr);
  return next;
}

DWORD GetNameAttribute(PCCERT_CONTEXT cert, DWORD flags, const char* oid, char* name,
                       DWORD capacity) {
  if (Enter(Op::getNameAttribute)) return 0;
  return real().getNameAttribute(cert, flags, oid, name, capacity);
}

DWORD GetNameAttributeW(PCCERT_CONTEXT cert, DWORD flags, const char* oid, wchar_t* name,
                        DWORD capacity) {
  if (Enter(Op::getNameAttributeW)) return 0;
  return real().getNameAttributeW(cert, flags, oid, name, capacity);
}

BOOL GetKeyProvInfo(PCCERT_CONTEXT cert, void* area, DWORD* size) {
  if (Enter(Op::getKeyProvInfo)) return FALSE;
  return real().getKeyProvInfo(cert, area, size);
}

BOOL SetKeyProvInfo(PCCERT_CONTEXT cert, const CRYPT_KEY_PROV_INFO* info) {
  if (Enter(Op::setKeyProvInfo)) return FALSE;
  return real().setKeyProvInfo(cert, info);
}

BOOL AddCertificate(HCERTSTORE store, PCCERT_CONTEXT cert, PCCERT_CONTEXT* stored) {
  if (Enter(Op::addCertificate)) return FALSE;
  const BOOL ok = real().addCertificate(store, cert, stored);
  Acquired(HandleKind::Certificate, ok && stored != nullptr && *stored != nullptr);
  return ok;
}

PCCERT_CONTEXT CreateCertificate(const BYTE* der, DWORD size) {
  if (Enter(Op::createCertificate)) return nullptr;
  PCCERT_CONTEXT cert = real().createCertificate(der, size);
  Acquired(HandleKind::Certificate, cert != nullptr);
  return cert;
}

BOOL DeleteCertificate(PCCERT_CONTEXT cert) {
  Released(HandleKind::Certificate, cert != nullptr);
  if (Enter(Op::deleteCertificate)) {
    real().freeCertificate(cert);  // the platform frees it even when deletion fails
    return FALSE;
  }
  return real().deleteCertificate(cert);
}

BOOL FreeCertificate(PCCERT_CONTEXT cert) {
  Released(HandleKind::Certificate, cert != nullptr);
  Enter(Op::freeCertificate);
  return real().freeCertificate(cert);
}

BOOL CommitStore(HCERTSTORE store) {
  if (Enter(Op::commitStore)) return FALSE;
  return real().commitStore(store);
}

BOOL CloseStore(HCERTSTORE store) {
  Released(HandleKind::Store, store != nullptr);
  Enter(Op::closeStore);
  return real().closeStore(store);
}

BOOL AcquireContext(HCRYPTPROV* prov, const char* container, const char* provider,
                    DWORD providerType, DWORD flags) {
  if (Enter(Op::acquireContext)) return FALSE;
  const BOOL ok = real().acquireContext(prov, container, provider, providerType, flags);
  Acquired(HandleKind::Provider, ok && (flags & CRYPT_DELETEKEYSET) == 0);
  return ok;
}

BOOL GetProviderName(HCRYPTPROV prov, BYTE* name, DWORD* size) {
  if (Enter(Op::getProviderName)) return FALSE;
  return real().getProviderName(prov, name, size);
}

BOOL GetDefaultProviderName(BYTE* name, DWORD* size) {
  if (Enter(Op::getDefaultProviderName)) return FALSE;
  return real().getDefaultProviderName(name, size);
}

BOOL GenerateSignatureKey(HCRYPTPROV prov, HCRYPTKEY* key) {
  if (Enter(Op::generateSignatureKey)) return FALSE;
  const BOOL ok = real().generateSignatureKey(prov, key);
  Acquired(HandleKind::Key, ok);
  return ok;
}

BOOL ExportKey(HCRYPTKEY key, DWORD blobType, BYTE* blob, DWORD* size) {
  if (Enter(Op::exportKey)) return FALSE;
  return real().exportKey(key, blobType, blob, size);
}

BOOL ImportPrivateKey(HCRYPTPROV prov, const BYTE* blob, DWORD size, HCRYPTKEY* key) {
  if (Enter(Op::importPrivateKey)) return FALSE;
  const BOOL ok = real().importPrivateKey(prov, blob, size, key);
  Acquired(HandleKind::Key, ok);
  return ok;
}

BOOL CreateHash(HCRYPTPROV prov, HCRYPTHASH* hash) {
  if (Enter(Op::createHash)) return FALSE;
  const BOOL ok = real().createHash(prov, hash);
  Acquired(HandleKind::Hash, ok);
  return ok;
}

BOOL HashData(HCRYPTHASH hash, const BYTE* data, DWORD size) {
  if (Enter(Op::hashData)) return FALSE;
  return real().hashData(hash, data, size);
}

BOOL SignHash(HCRYPTHASH hash, BYTE* signature, DWORD* size) {
  if (Enter(Op::signHash)) return FALSE;
  return real().signHash(hash, signature, size);
}

BOOL DestroyHash(HCRYPTHASH hash) {
  Released(HandleKind::Hash);
  Enter(Op::destroyHash);
  return real().destroyHash(hash);
}

BOOL DestroyKey(HCRYPTKEY key) {
  Released(HandleKind::Key);
  Enter(Op::destroyKey);
  return real().destroyKey(key);
}

BOOL ReleaseContext(HCRYPTPROV prov) {
  Released(HandleKind::Provider);
  Enter(Op::releaseContext);
  return real().releaseContext(prov);
}

RPC_STATUS CreateUuid(UUID* uuid) {
  if (Enter(Op::createUuid)) return RPC_S_OUT_OF_MEMORY;
  return real().createUuid(uuid);
}

RPC_STATUS UuidToString(const UUID* uuid, RPC_CSTR* text) {
  if (Enter(Op::uuidToString)) return RPC_S_OUT_OF_MEMORY;
  const RPC_STATUS status = real().uuidToString(uuid, text);
  Acquired(HandleKind::RpcString, status == RPC_S_OK);
  return status;
}

RPC_STATUS FreeRpcString(RPC_CSTR* text) {
  Released(HandleKind::RpcString);
  Enter(Op::freeRpcString);
  return real().freeRpcString(text);
}

}  // namespace

const char* OpName(Op op) {
  // A switch, so that an operation added without a name does not compile.
  switch (op) {
    case Op::openPersonalStore:
      return "openPersonalStore";
    case Op::enumCertificates:
      return "enumCertificates";
    case Op::getNameAttribute:
      return "getNameAttribute";
    case Op::getNameAttributeW:
      return "getNameAttributeW";
    case Op::getKeyProvInfo:
      return "getKeyProvInfo";
    case Op::setKeyProvInfo:
      return "setKeyProvInfo";
    case Op::addCertificate:
      return "addCertificate";
    case Op::createCertificate:
      return "createCertificate";
    case Op::deleteCertificate:
      return "deleteCertificate";
    case Op::freeCertificate:
      return "freeCertificate";
    case Op::commitStore:
      return "commitStore";
    case Op::closeStore:
      return "closeStore";
    case Op::acquireContext:
      return "acquireContext";
    case Op::getProviderName:
      return "getProviderName";
    case Op::getDefaultProviderName:
      return "getDefaultProviderName";
    case Op::generateSignatureKey:
      return "generateSignatureKey";
    case Op::exportKey:
      return "exportKey";
    case Op::importPrivateKey:
      return "importPrivateKey";
    case Op::createHash:
      return "createHash";
    case Op::hashData:
      return "hashData";
    case Op::signHash:
      return "signHash";
    case Op::destroyHash:
      return "destroyHash";
    case Op::destroyKey:
      return "destroyKey";
    case Op::releaseContext:
      return "releaseContext";
    case Op::createUuid:
      return "createUuid";
    case Op::uuidToString:
      return "uuidToString";
    case Op::freeRpcString:
      return "freeRpcString";
    case Op::kCount:
      break;
  }
  return "?";
}
const char* KindName(HandleKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

PlatformLedger::PlatformLedger() {
  state() = State{};
  state().real = platform;
  platform = PlatformServices{
      .openPersonalStore = OpenPersonalStore,
      .enumCertificates = EnumCertificates,
      .getNameAttribute = GetNameAttribute,
      .getNameAttributeW = GetNameAttributeW,
      .getKeyProvInfo = GetKeyProvInfo,
      .setKeyProvInfo = SetKeyProvInfo,
      .addCertificate = AddCertificate,
      .createCertificate = CreateCertificate,
      .deleteCertificate = DeleteCertificate,
      .freeCertificate = FreeCertificate,
      .commitStore = CommitStore,
      .closeStore = CloseStore,
      .acquireContext = AcquireContext,
      .getProviderName = GetProviderName,
      .getDefaultProviderName = GetDefaultProviderName,
      .generateSignatureKey = GenerateSignatureKey,
      .exportKey = ExportKey,
      .importPrivateKey = ImportPrivateKey,
      .createHash = CreateHash,
      .hashData = HashData,
      .signHash = SignHash,
      .destroyHash = DestroyHash,
      .destroyKey = DestroyKey,
      .releaseContext = ReleaseContext,
      .createUuid = CreateUuid,
      .uuidToString = UuidToString,
      .freeRpcString = FreeRpcString,
  };
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
