// GetCSR: a new key pair and its certificate request, the private key kept
// where the build's pending-key policy says until the issued certificate
// comes back.
#include <array>
#include <memory>
#include <new>

#include "encoding/base64.h"
#include "encoding/pem.h"
#include "request/signed_request.h"
#include "script/member_state.h"
#include "script/script_call.h"
#include "script/subject_attribute.h"

namespace zvcert {
namespace {

// Private key bytes in a temporary are wiped however the call ends.
struct WipeOnExit {
  std::span<uint8_t> bytes;
  ~WipeOnExit() { WipeBytes(bytes); }
};

std::string_view TextOf(std::span<const char> field) {
  return std::string_view(field.data(), std::char_traits<char>::length(field.data()));
}

bool Fail(MethodResult& result) {
  result.Text("");
  return false;
}

}  // namespace

bool GetCSR(MemberState& object, MethodArgs /*args*/, MethodResult& result) {
  std::array<AttributeValue, kSubjectKeyCount> values;
  SubjectValues subject;
  for (size_t i = 0; i < kSubjectKeyCount; ++i) {
    GetSubjectAttribute(kSubjectKeyNames[i], TextOf(object.subjectText), values[i]);
    subject[i] = TextOf(values[i]);
  }

  std::array<uint8_t, kRequestAreaSize> request;
  std::array<uint8_t, kKeyBlobAreaSize> privateKey;
  WipeOnExit wipe{privateKey};
  int32_t requestLength = 0;
  int32_t privateKeyLength = 0;
  const RequestResult made =
      object.store.MakeRequest({request, requestLength, privateKey, privateKeyLength}, subject,
                               TextOf(object.unstructuredName), TextOf(object.challengePassword));
  if (made != RequestResult::Ok) return Fail(result);

  const size_t base64Size = Base64Length(static_cast<size_t>(requestLength));
  std::unique_ptr<char[]> base64(new (std::nothrow) char[base64Size]);
  int32_t base64Length = 0;
  if (base64 == nullptr ||
      Base64EncodeBuffer(request.data(), requestLength, base64.get(),
                         static_cast<int32_t>(base64Size), &base64Length) != 0) {
    return Fail(result);
  }
  const size_t pemSize = ArmoredRequestSize(base64Length);
  std::unique_ptr<char[]> pem(new (std::nothrow) char[pemSize]);
  if (pem == nullptr) return Fail(result);
  const size_t pemLength =
      ArmorCertificateRequest(std::string_view(base64.get(), base64Length), {pem.get(), pemSize});

  // Hand the text over first: a request the page never receives must not
  // displace the key of one it did.
  if (!result.Text(std::string_view(pem.get(), pemLength))) return false;
  object.store.Hold(object.KeyHeld(), std::span(privateKey).first(privateKeyLength));
  return true;
}

}  // namespace zvcert
