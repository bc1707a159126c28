#include "store/pending.h"

#include <algorithm>
#include <cstring>

#include "store/key_provider.h"
#include "store/pem_certificate.h"

namespace zvcert {
namespace {

// Far more than the module ever keeps; any beyond wait for the next request.
constexpr size_t kPendingScan = 64;

bool IsOwnPlaceholder(PCCERT_CONTEXT cert) {
  const CERT_NAME_BLOB& subject = cert->pCertInfo->Subject;
  return subject.cbData == kPendingRequestSubject.size() &&
         std::memcmp(subject.pbData, kPendingRequestSubject.data(), subject.cbData) == 0;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The module's pending request for key, its key-provider information in
// area; the caller owns it. Null when there is none.
PCCERT_CONTEXT FindPendingRequest(HCERTSTORE requests, const CERT_PUBLIC_KEY_INFO& key,
                                  std::span<uint8_t, kKeyProvInfoAreaSize> area) {
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = platform.findByPublicKey(requests, &key, cert)) != nullptr) {
    DWORD size = area.size();
    if (!IsOwnPlaceholder(cert) || !platform.getKeyProvInfo(cert, area.data(), &size)) continue;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(area.data());
    if (info->pwszContainerName != nullptr) return cert;
  }
  return nullptr;
}

bool ContainerOpens(const KeyLocation& key) {
  ScopedProvider provider;
  return platform.acquireContext(provider.receive(), key.container.data(), key.provider.data(),
                                 key.providerType, kKeysetOpen);
}

enum class Link { Linked, Unlinked, Unknown };

// Whether a certificate in "MY" names the container as its key's.
Link LinkFromPersonalStore(const char* container) {
  const ScopedStore store(platform.openPersonalStore());
  if (!store) return Link::Unknown;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = platform.enumCertificates(store.get(), cert)) != nullptr) {
    KeyLocation key;
    if (ReadKeyLocation(cert, key) == KeyLocationStatus::Ok &&
        std::strcmp(key.container.data(), container) == 0) {
      platform.freeCertificate(cert);
      return Link::Linked;
    }
  }
  return Link::Unlinked;
}

// The container goes first, so that no key is ever left that no request or
// certificate names; a container that a certificate uses stays.
bool DeletePendingRequest(ScopedCertificate& request) {
  KeyLocation key;
  if (ReadKeyLocation(request.get(), key) != KeyLocationStatus::Ok) return false;
  switch (LinkFromPersonalStore(key.container.data())) {
    case Link::Unknown:
      return false;
    case Link::Linked:
      break;
    case Link::Unlinked: {
      HCRYPTPROV none = 0;
      if (!platform.acquireContext(&none, key.container.data(), key.provider.data(),
                                   key.providerType, kKeysetDelete) &&
          ContainerOpens(key)) {
        return false;
      }
      break;
    }
  }
  return platform.deleteCertificate(request.release());
}

}  // namespace

PendingKeyResult CreatePendingKey(PendingKey& pending) {
  if (!CreateGuidContainer(pending.name, pending.provider)) {
    return PendingKeyResult::ContainerNotCreated;
  }
  if (!platform.generateKeptSignatureKey(pending.provider.get(), pending.key.receive())) {
    DiscardPendingKey(pending);
    return PendingKeyResult::KeyNotGenerated;
  }
  return PendingKeyResult::Ok;
}

bool RecordPendingRequest(const PendingKey& pending) {
  alignas(CRYPT_KEY_PROV_INFO) std::array<uint8_t, kKeyProvInfoRecordSize> record;
  FillKeyProvRecord(pending.provider.get(), pending.name.data(), record);
  CERT_NAME_BLOB subject{kPendingRequestSubject.size(),
                         const_cast<BYTE*>(kPendingRequestSubject.data())};
  const ScopedCertificate placeholder(
      platform.createSelfSigned(pending.provider.get(), &subject,
                                reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(record.data())));
  if (!placeholder) return false;
  const ScopedStore requests(platform.openRequestStore());
  return requests && platform.addCertificate(requests.get(), placeholder.get(), nullptr);
}

void DiscardPendingKey(PendingKey& pending) {
  pending.key.reset();
  pending.provider.reset();
  DeleteContainer(pending.name.data());
}

uint64_t CurrentTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

PruneResult PrunePendingRequests(uint64_t now) {
  const ScopedStore requests(platform.openRequestStore());
  if (!requests) return {};
  struct Held {
    ScopedCertificate request;
    uint64_t made = 0;
  };
  std::array<Held, kPendingScan> held;
  size_t count = 0;
  PCCERT_CONTEXT cert = nullptr;
  while (count < held.size() &&
         (cert = platform.enumCertificates(requests.get(), cert)) != nullptr) {
    if (!IsOwnPlaceholder(cert)) continue;
    held[count].request.reset(platform.duplicateCertificate(cert));
    if (held[count].request) held[count++].made = Ticks(cert->pCertInfo->NotBefore);
  }
  if (cert != nullptr) platform.freeCertificate(cert);  // the scan stopped early

  std::sort(held.begin(), held.begin() + count,
            [](const Held& a, const Held& b) { return a.made < b.made; });
  // Oldest first: the aged go, and, while there is no room for the request
  // about to be made, those past the days every request is kept.
  const uint64_t maxAge = uint64_t{kPendingDays} * kTicksPerDay;
  const uint64_t keptAge = uint64_t{kPendingKeptDays} * kTicksPerDay;
  PruneResult result;
  size_t left = count;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t age = now > held[i].made ? now - held[i].made : 0;
    const bool crowded = left >= kPendingLimit && age > keptAge;
    if ((age > maxAge || crowded) && DeletePendingRequest(held[i].request)) {
      ++result.deleted;
      --left;
    }
  }
  // Some platforms keep a deletion from a system store only once committed.
  if (result.deleted > 0) platform.commitStore(requests.get());
  result.room = left < kPendingLimit;
  return result;
}

ImportResult ImportCertForPendingRequest(const char* pem, std::string_view issuerName) {
  // Released in reverse: stored copy, request, parsed certificate, stores.
  const ScopedStore personal(platform.openPersonalStore());
  if (!personal) return ImportResult::StoreNotOpened;
  const ScopedStore requests(platform.openRequestStore());
  if (!requests) return ImportResult::StoreNotOpened;
  const ParsedCertificate parsed(ParsePemCertificate(pem));
  if (!parsed) return ImportResult::NoCertificate;
  alignas(CRYPT_KEY_PROV_INFO) std::array<uint8_t, kKeyProvInfoAreaSize> area;
  ScopedCertificate request(
      FindPendingRequest(requests.get(), parsed.get()->pCertInfo->SubjectPublicKeyInfo, area));
  if (!request) return ImportResult::NoPendingRequest;
  // A certificate is never stored for a key that is gone.
  KeyLocation key;
  if (ReadKeyLocation(request.get(), key) != KeyLocationStatus::Ok || !ContainerOpens(key)) {
    return ImportResult::KeyNotPlaced;
  }
  // Linked before it is added, so that the stored copy never lacks its key.
  if (!platform.setKeyProvInfo(parsed.get(),
                               reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(area.data()))) {
    return ImportResult::LinkNotSet;
  }
  ScopedCertificate stored;
  if (!platform.addCertificate(personal.get(), parsed.get(), stored.receive())) {
    return ImportResult::NotAdded;
  }
  // A replaced copy is a deletion too, which some platforms keep only once
  // the store is committed.
  platform.commitStore(personal.get());
  // A request that cannot be removed now holds a container the certificate
  // uses; pruning it later leaves that container alone.
  if (IssuedByAuthority(parsed.get(), issuerName) &&
      platform.deleteCertificate(request.release())) {
    platform.commitStore(requests.get());
  }
  return ImportResult::Ok;
}

}  // namespace zvcert
