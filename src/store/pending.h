// Requests whose private key waits in a key container of the user's until
// the issued certificate comes back. Each is recorded where the platform
// keeps pending requests, the current user's "REQUEST" store, as a
// placeholder certificate for the key: it names the container and, as its
// start of validity, the time the request was made. Any later page, process
// or browser run finds it by the certificate's public key.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "store/handles.h"
#include "store/key_match.h"
#include "store/store_services.h"

namespace zvcert {

// The placeholder's subject, by which this module knows its own pending
// requests among those of other software: CN=npzvcert pending request.
inline constexpr char kPendingRequestName[] = "npzvcert pending request";
inline constexpr std::array<uint8_t, 37> kPendingRequestSubject = [] {
  std::array<uint8_t, 37> der{
      0x30, 0x23, 0x31, 0x21, 0x30, 0x1F, 0x06,
      0x03, 0x55, 0x04, 0x03, 0x0C, 0x18};  // SEQUENCE SET SEQUENCE OID(CN) UTF8String
  for (size_t i = 0; i < 24; ++i) der[13 + i] = static_cast<uint8_t>(kPendingRequestName[i]);
  return der;
}();
static_assert(sizeof kPendingRequestName == 25);

// A request's key: a new container "{GUID}" with a signature key of the
// build's size generated in it, not exportable.
struct PendingKey {
  ContainerName name{};
  ScopedProvider provider;
  ScopedKey key;
};

enum class PendingKeyResult { Ok, ContainerNotCreated, KeyNotGenerated };

// On failure no container is left.
PendingKeyResult CreatePendingKey(PendingKey& pending);

// Records the request of the key in "REQUEST"; false when it cannot be.
bool RecordPendingRequest(const PendingKey& pending);

// Releases the key's handles and deletes its container: the request was not
// recorded, so nothing would ever find the key.
void DiscardPendingKey(PendingKey& pending);

// Times as the platform counts them: 100-nanosecond ticks since 1601 (UTC).
uint64_t CurrentTime();
inline constexpr uint64_t kTicksPerDay = 864000000000;

// Requests younger than this are never deleted to make room for another: a
// page that asks for request after request cannot displace the one the user
// made at the authority's portal a day ago. The new request is refused instead.
inline constexpr uint32_t kPendingKeptDays = kPendingDays < 3 ? kPendingDays : 3;

struct PruneResult {
  int deleted = 0;    // requests deleted, each with its container
  bool room = false;  // a new request would leave at most kPendingLimit
};

// Deletes this module's pending requests, each with its container, that were
// made more than kPendingDays before now, and the oldest of the rest made more
// than kPendingKeptDays before now so that a new request leaves at most
// kPendingLimit. A container that a certificate in "MY" links to is left
// alone, and so is one whose deletion fails, with its request.
PruneResult PrunePendingRequests(uint64_t now);

// Adds the certificate to "MY" linked to the key of the pending request with
// the same public key (the key does not move), then removes the request if
// the authority issued the certificate: anyone can make a certificate for a
// request's public key, and one from elsewhere must not use up the request
// the authority's answer is still to come for. No change on NoCertificate or
// NoPendingRequest; on any other failure the request stays for a retry and
// no certificate is left without its link.
ImportResult ImportCertForPendingRequest(const char* pem, std::string_view issuerName);

}  // namespace zvcert
