// SetSubject, SetChallenge, Base64Encode and Base64Decode.
#include <cstring>
#include <memory>
#include <new>

#include "encoding/base64.h"
#include "encoding/text_copy.h"
#include "script/member_state.h"
#include "script/script_call.h"

namespace zvcert {
namespace {

// A per-call work area sized from an argument; null when the size cannot be
// had (beyond what the codec's 32-bit counts reach, or out of memory).
std::unique_ptr<char[]> WorkArea(uint64_t size) {
  if (size > INT32_MAX) return nullptr;
  return std::unique_ptr<char[]>(new (std::nothrow) char[size]);
}

}  // namespace

bool SetSubject(MemberState& object, MethodArgs args, MethodResult& result) {
  CopyFixed(object.subjectText, args[0]);
  result.Int(1);
  return true;
}

bool SetChallenge(MemberState& object, MethodArgs args, MethodResult& result) {
  CopyFixed(object.unstructuredName, args[0]);
  CopyFixed(object.challengePassword, args[1]);
  result.Int(1);
  return true;
}

// Encodes the argument's bytes as they are, zero bytes included.
bool Base64Encode(MemberState& /*object*/, MethodArgs args, MethodResult& result) {
  const std::string_view data = args[0];
  const uint64_t size = Base64EncodeRoom(data.size());
  std::unique_ptr<char[]> text = WorkArea(size);
  int32_t length = 0;
  if (text == nullptr || Base64EncodeBuffer(reinterpret_cast<const uint8_t*>(data.data()),
                                            static_cast<int32_t>(data.size()), text.get(),
                                            static_cast<int32_t>(size - 1), &length) != 0) {
    result.Text("");
    return false;
  }
  return result.Text(std::string_view(text.get(), length));
}

// The decoded bytes are handed over up to the first zero byte among them.
bool Base64Decode(MemberState& /*object*/, MethodArgs args, MethodResult& result) {
  const std::string_view text = args[0];
  const uint64_t size = Base64DecodeRoom(text.size());
  std::unique_ptr<char[]> bytes = WorkArea(size);
  int32_t length = 0;
  if (bytes == nullptr || text.size() > INT32_MAX ||
      Base64DecodeText(text.data(), static_cast<int32_t>(text.size()),
                       reinterpret_cast<uint8_t*>(bytes.get()), static_cast<int32_t>(size - 1),
                       &length) != 0) {
    result.Text("");
    return false;
  }
  bytes[length] = '\0';
  return result.Text(std::string_view(bytes.get(), std::strlen(bytes.get())));
}

}  // namespace zvcert
