// FindCert, IsCertExist, DelCert, ImportCert and CertSign: the authority's
// certificates in the user's store, and the key kept since GetCSR.
#include <array>
#include <memory>
#include <new>

#include "encoding/base64.h"
#include "encoding/reverse_bytes.h"
#include "encoding/text_copy.h"
#include "script/member_state.h"
#include "script/script_call.h"
#include "store/attribute_table.h"
#include "store/serial_text.h"

namespace zvcert {
namespace {

template <size_t N>
std::string_view Copied(std::array<char, N>& area, std::string_view text) {
  CopyFixed(area, text);
  return std::string_view(area.data());
}

std::string_view Issuer(const MemberState& object) {
  return std::string_view(object.rootIssuerName.data());
}

}  // namespace

bool FindCert(MemberState& object, MethodArgs args, MethodResult& result) {
  std::array<char, 128> key, value;
  const std::optional<const char*> oid = AttributeOid(Copied(key, args[0]));
  if (!oid) return false;
  SerialValue serial{};
  DecimalText text{};
  if (object.store.FindSerial(*oid, Copied(value, args[1]), Issuer(object), serial) ==
      FindResult::Found) {
    text = Int64ToDecimal(serial);
  }
  return result.Text(text.data());
}

bool IsCertExist(MemberState& object, MethodArgs args, MethodResult& result) {
  result.Int(static_cast<int32_t>(object.store.IsPresent(SerialArgument(args[0]), Issuer(object))));
  return true;
}

bool DelCert(MemberState& object, MethodArgs args, MethodResult& result) {
  result.Int(static_cast<int32_t>(object.store.Delete(SerialArgument(args[0]), Issuer(object))));
  return true;
}

bool ImportCert(MemberState& object, MethodArgs args, MethodResult& result) {
  std::unique_ptr<std::array<char, 8192>> pem(new (std::nothrow) std::array<char, 8192>);
  if (pem == nullptr) {
    result.Int(-1);
    return false;
  }
  CopyFixed(*pem, args[0]);
  const ImportAnswer answer = object.store.Import(pem->data(), Issuer(object), object.KeyHeld());
  result.Int(static_cast<int32_t>(answer));
  return answer == ImportAnswer::Imported;
}

bool CertSign(MemberState& object, MethodArgs args, MethodResult& result) {
  const std::string_view base64 = args[1];
  const uint64_t capacity = Base64DecodeRoom(base64.size());
  std::unique_ptr<uint8_t[]> data(capacity <= INT32_MAX ? new (std::nothrow) uint8_t[capacity]
                                                        : nullptr);
  int32_t dataLength = 0;
  if (data == nullptr ||
      Base64DecodeText(base64.data(), static_cast<int32_t>(base64.size()), data.get(),
                       static_cast<int32_t>(capacity), &dataLength) != 0) {
    result.Text("");
    return false;
  }
  const SerialValue serial = SerialArgument(args[0]);
  std::array<uint8_t, kSignatureAreaSize> signed_{};
  int32_t used = 0;
  if (object.store.Sign(serial, Issuer(object), {data.get(), static_cast<size_t>(dataLength)},
                        signed_, used) != SignResult::Ok) {
    result.Text("");
    return false;
  }
  // Both most significant byte first: the serial as a big-endian integer of
  // the build's serial length, the signature as PKCS #1 writes it.
  ReverseBytes(std::span(signed_).first(kSerialBytes));
  ReverseBytes(std::span(signed_).subspan(kSerialBytes, used - kSerialBytes));
  std::array<char, Base64Length(kSignatureAreaSize) + 1> text;
  int32_t length = 0;
  Base64EncodeBuffer(signed_.data(), used, text.data(), text.size() - 1, &length);
  return result.Text(std::string_view(text.data(), length));
}

}  // namespace zvcert
