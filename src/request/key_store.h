// What the members ask of the place where keys and certificates live: the
// user's stores and key containers on Windows, a PKCS #11 token elsewhere.
// The members' own code (arguments, serial texts, Base64, the request's PEM)
// is the same over either; each store answers with the codes pages know.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "request/signed_request.h"
#include "store/pending_keys.h"
#include "store/serial.h"
#include "store/store_results.h"

namespace zvcert {

// Why a store could not do its part at all, beyond the call's own result: a
// host tells its page these apart from a plain failure.
enum class StoreProblem {
  None,
  NoModule,      // the token's module is missing or is no PKCS #11 module
  NoToken,       // no token is present
  PinRequired,   // the token wants its user's PIN, and none was given
  PinIncorrect,  // the PIN given was wrong
  PinLocked,     // the token refuses the PIN after too many wrong ones
  TokenRemoved,  // the token went away during the call
};

class KeyStore {
 public:
  virtual ~KeyStore() = default;

  // The authority root's subject common name, left empty when the root
  // cannot be read (callers try again later).
  virtual void ReadRootIssuerName(std::array<char, 128>& name) = 0;

  // The serial of the first of the authority's certificates whose subject
  // attribute oid equals value (UTF-8, exact); serial is written only when
  // one is found.
  virtual FindResult FindSerial(const char* oid, std::string_view value,
                                std::string_view issuerName, SerialValue& serial) = 0;
  virtual PresenceResult IsPresent(const SerialValue& serial, std::string_view issuerName) = 0;
  // The certificate and its private key.
  virtual DeleteResult Delete(const SerialValue& serial, std::string_view issuerName) = 0;
  // The build's hash, PKCS #1 v1.5. On Ok, out holds the serial as passed and
  // the signature, both least significant byte first, and outLength their
  // total.
  virtual SignResult Sign(const SerialValue& serial, std::string_view issuerName,
                          std::span<const uint8_t> data, std::span<uint8_t, kSignatureAreaSize> out,
                          int32_t& outLength) = 0;

  // Whether a request adds to what the store keeps: then only the pages a
  // build serves may make one.
  virtual bool RequestChangesStore() const = 0;
  // A new key pair and its signed request. Where the page's object holds the
  // key, its private key blob is in output on Ok.
  virtual RequestResult MakeRequest(const RequestOutput& output, const SubjectValues& subject,
                                    std::string_view unstructuredName,
                                    std::string_view challengePassword) = 0;
  // Keeps the key of the request the page has just received, where the
  // page's object holds keys.
  virtual void Hold(HeldKey held, std::span<const uint8_t> exported) = 0;
  // Stores the PEM certificate linked to the private key of its request.
  virtual ImportAnswer Import(const char* pem, std::string_view issuerName, HeldKey held) = 0;

  // What the calls since ClearProblem() ran into; None when the store
  // itself could be used.
  virtual StoreProblem problem() const { return StoreProblem::None; }
  virtual void ClearProblem() {}
};

}  // namespace zvcert
