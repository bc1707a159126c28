// A CMS SignedData made with a stored certificate's private key, for the
// native-messaging host: what a page gets where it needs a standard signature
// rather than CertSign's bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "store/serial.h"
#include "store/store_services.h"

namespace zvcert {

// Opening the key fails as CertSign's does, with its codes.
enum class CmsResult : int32_t {
  Ok = 0,
  StoreNotOpened = static_cast<int32_t>(SignResult::StoreNotOpened),
  NotFound = static_cast<int32_t>(SignResult::NotFound),
  NoKeyInfo = static_cast<int32_t>(SignResult::NoKeyInfo),
  NoContainerNamed = static_cast<int32_t>(SignResult::NoContainerNamed),
  ContainerNotOpened = static_cast<int32_t>(SignResult::ContainerNotOpened),
  MessageNotOpened = -8,
  NotSigned = -9,
  NotEncoded = -10,
};

// Signs data with the key linked to the authority's certificate of that
// serial, with the build's hash: one the root's key signed, whatever rule the
// plug-in's lookups follow, and when sha256 is given the one whose DER has
// that SHA-256. On Ok, out holds the DER ContentInfo: the signer certificate
// included, the signer named by issuer and serial, the content carried unless
// detached. On failure out is empty.
CmsResult SignCmsWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                                std::span<const uint8_t> data, bool detached,
                                std::vector<uint8_t>& out, std::span<const uint8_t> sha256 = {});

}  // namespace zvcert
