// The commands about the authority's certificates: what the extension names
// when it asks the user (describe), what it offers (list), and the signature
// it asks for once the user agreed (signCms).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "encoding/base64.h"
#include "host/certificate_info.h"
#include "host/commands.h"
#include "host/consent_text.h"

namespace zvhost {
namespace {

// A listed certificate also says whether it has expired.
std::string InfoText(const CertificateInfo& info, bool withExpiry = false) {
  return std::string("{\"found\":") + (info.found ? "true" : "false") +
         ",\"subject\":" + json::Quote(info.subject) + ",\"issuer\":" + json::Quote(info.issuer) +
         ",\"serial\":" + json::Quote(info.serial) +
         ",\"serialHex\":" + json::Quote(info.serialHex) +
         ",\"notBefore\":" + json::Quote(info.notBefore) +
         ",\"notAfter\":" + json::Quote(info.notAfter) +
         ",\"fromAuthority\":" + (info.fromAuthority ? "true" : "false") +
         ",\"thumbprint\":" + json::Quote(info.thumbprint) +
         ",\"canonical\":" + json::Quote(info.canonical) +
         (withExpiry ? std::string(",\"expired\":") + (info.expired ? "true" : "false") : "") + "}";
}

// text is the data as the consent window shows it, whole; printable says
// whether the bytes are text at all, unshown why text is not shown.
std::string DataText(const DataInfo& info) {
  if (!info.valid) return "{\"valid\":false}";
  return "{\"valid\":true,\"size\":" + std::to_string(info.size) +
         ",\"sha256\":" + json::Quote(info.sha256) +
         ",\"printable\":" + (info.printable ? "true" : "false") +
         ",\"text\":" + json::Quote(info.text) + ",\"escaped\":" + std::to_string(info.escaped) +
         ",\"folded\":" + std::to_string(info.folded) +
         ",\"unshown\":" + json::Quote(info.unshown) + "}";
}

// What the plug-in itself serves: IsCertExist answers 1 only for the
// authority's certificate with that serial, and a build locked to other
// pages answers 0.
bool Served(MemberObject* object, const std::string& serial) {
  const CallResult result = object->Invoke("IsCertExist", {Value(serial)}, SIZE_MAX);
  const int32_t* answer = std::get_if<int32_t>(&result.value);
  return result.ok && answer != nullptr && *answer == 1;
}

// A "thumbprint" member, when there is one: 64 hex digits, the SHA-256 of
// one certificate's DER. False for anything else.
bool ReadThumbprint(const json::Value* thumbprint, std::optional<zvcert::Sha256Digest>& digest) {
  if (thumbprint == nullptr) return true;
  if (thumbprint->type == json::Type::String) digest = ThumbprintBytes(thumbprint->text);
  return digest.has_value();
}

}  // namespace

// {"describe": {"serial": text}} or {"describe": {"pem": text}}: the
// certificate a DelCert/CertSign or an ImportCert would concern, read from
// the text as the plug-in reads it, so that the extension can name it when it
// asks the user; with "thumbprint" beside the serial, the one signCms would
// sign with; {"describe": {"data": base64}}: CertSign's data as the plug-in
// decodes it. A stored certificate the plug-in does not serve this page is
// not found: no window names what the page cannot act on.
Outcome Describe(Connection& connection, json::Value& what, json::Value& /*message*/) {
  const json::Value* serial = what.Find("serial");
  const json::Value* pem = what.Find("pem");
  const json::Value* data = what.Find("data");
  if (serial != nullptr && serial->type == json::Type::String) {
    std::optional<zvcert::Sha256Digest> digest;
    if (!ReadThumbprint(what.Find("thumbprint"), digest)) {
      return Malformed("thumbprint is not 64 hex digits");
    }
    CertificateInfo info = DescribeStoredCertificate(serial->text, digest ? &*digest : nullptr);
    MemberObject* object = connection.object.get();
    if (info.found && (object == nullptr || !Served(object, info.canonical))) {
      CertificateInfo none;
      none.serial = std::move(info.serial);
      none.canonical = std::move(info.canonical);
      info = std::move(none);
    }
    return ValueOutcome(InfoText(info));
  }
  if (pem != nullptr && pem->type == json::Type::String) {
    return ValueOutcome(InfoText(DescribePemCertificate(pem->text)));
  }
  if (data != nullptr && data->type == json::Type::String) {
    return ValueOutcome(DataText(DescribeSignData(data->text)));
  }
  return Malformed("describe needs a serial, a pem or a data text");
}

// {"list": {}}: the authority's certificates the plug-in serves this page,
// in store order.
Outcome List(Connection& connection, json::Value& /*field*/, json::Value& /*message*/) {
  if (connection.object == nullptr) return NoPlugin();
  std::string items;
  for (const CertificateInfo& info : ListAuthorityCertificates()) {
    if (!Served(connection.object.get(), info.serial)) continue;
    if (!items.empty()) items += ',';
    items += InfoText(info, true);
  }
  return ValueOutcome("[" + items + "]");
}

// {"signCms": {"serial": text, "data": base64, "detached": bool,
// "thumbprint": hex}}: a CMS SignedData of the data with the key of the
// authority's certificate of that serial (and thumbprint, when given) that
// the root's key signed. Serial and data are read as describe reads them, so
// what the user was shown is what is signed; the plug-in must serve the
// certificate to this page.
Outcome SignCms(Connection& connection, json::Value& what, json::Value& /*message*/) {
  const json::Value* serial = what.Find("serial");
  const json::Value* data = what.Find("data");
  const json::Value* detached = what.Find("detached");
  if (serial == nullptr || serial->type != json::Type::String || data == nullptr ||
      data->type != json::Type::String) {
    return Malformed("signCms needs a serial and a data text");
  }
  if (detached != nullptr && detached->type != json::Type::Bool) {
    return Malformed("detached is not a boolean");
  }
  std::optional<zvcert::Sha256Digest> digest;
  if (!ReadThumbprint(what.Find("thumbprint"), digest)) {
    return Malformed("thumbprint is not 64 hex digits");
  }
  const bool leaveOut = detached != nullptr && detached->boolean;
  std::string bytes;
  if (!DecodeSignData(data->text, bytes)) {
    return ErrorOutcome(Reason::Failed, "data is not Base64 the plug-in accepts");
  }
  if (connection.signTextOnly) {
    // Such a build signs only what the consent window could show the user.
    const std::string_view unshown = ShowSignedText(bytes).unshown;
    if (!unshown.empty()) {
      return ErrorOutcome(Reason::Failed,
                          "the data cannot be shown as text (" + std::string(unshown) +
                              "), and this build signs only text the user can read");
    }
  }
  // The content alone would not fit in the reply: nothing is signed.
  if (!leaveOut && zvcert::Base64Length(bytes.size()) > kMaxReply) return TooLong();
  MemberObject* object = connection.object.get();
  if (object == nullptr) return NoPlugin();
  if (!Served(object, serial->text)) {
    return ErrorOutcome(Reason::Failed,
                        "no such certificate from the authority is served to this page");
  }
  std::vector<uint8_t> der;
  std::string error;
  if (!zvhost::SignCms(serial->text, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                       leaveOut, digest ? &*digest : nullptr, der, error)) {
    return ErrorOutcome(Reason::Failed, error);
  }
  // The reply writer refuses one over 1 MiB.
  std::string text(zvcert::Base64Length(der.size()), '\0');
  int32_t length = 0;
  if (zvcert::Base64EncodeBuffer(der.data(), static_cast<int32_t>(der.size()), text.data(),
                                 static_cast<int32_t>(text.size()), &length) != 0) {
    return ErrorOutcome(Reason::Failed, "the signature could not be encoded");
  }
  return ValueOutcome(json::Quote(text));
}

}  // namespace zvhost
