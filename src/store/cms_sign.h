// A CMS SignedData made with a stored certificate's private key, for the
// native-messaging host: what a page gets where it needs a standard signature
// rather than CertSign's bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "store/serial.h"

namespace zvcert {

enum class CmsResult : int32_t {
  Ok = 0,
  StoreNotOpened = -1,
  NotFound = -2,
  NoKeyInfo = -5,
  NoContainerNamed = -6,
  ContainerNotOpened = -7,
  MessageNotOpened = -8,
  NotSigned = -9,
  NotEncoded = -10,
};

// Signs data with the key linked to the authority's certificate of that
// serial (found as CertSign finds it), with the build's hash. On Ok, out
// holds the DER ContentInfo: the signer certificate included, the signer
// named by issuer and serial, the content carried unless detached. On
// failure out is empty.
CmsResult SignCmsWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                                std::span<const uint8_t> data, bool detached,
                                std::vector<uint8_t>& out);

}  // namespace zvcert
