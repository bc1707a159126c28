// npzvcert-host.exe: lets a browser extension use the plug-in through native
// messaging. It loads npzvcert.dll from its own folder as a browser does,
// keeps one instance and its scriptable object for the whole connection (a
// plug-in that keeps pending keys in memory keeps them there until
// ImportCert), and answers one message
// at a time: a 4-byte little-endian length, then that many bytes of JSON.
//
//   {"id": 1, "member": "GetCSR", "args": []}
//   -> {"id": 1, "ok": true, "value": "-----BEGIN ..."}
//   -> {"id": 1, "ok": false, "error": "unknown member"}
//   {"id": 2, "page": "https://ca.example.com"}   (first, from the extension)
//
// The end of input, even in the middle of a message, ends the program with
// code 0: the browser closed the connection.
//
// Built with ZVCERT_BROWSER_CHECKS (npzvcert-host-checks.exe, for the tests)
// it takes --plugin=<path of a DLL> to load another build's plug-in, and
// exits 2 when the plug-in used the browser as it must not.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/base64.h"
#include "host/certificate_info.h"
#include "host/consent_text.h"
#include "host/json.h"
#include "host/plugin_host.h"
#include "store/cms_sign.h"
#include "store/root_certificate.h"
#include "store/serial_text.h"

namespace {

using zvhost::Browser;
using zvhost::CallResult;
using zvhost::Instance;
using zvhost::ScriptObject;
using zvhost::Value;
namespace json = zvhost::json;

// Browsers send at most 64 MiB and accept replies of at most 1 MiB.
constexpr uint32_t kMaxRequest = 64u << 20;
constexpr size_t kMaxReply = 1u << 20;
// An id is echoed in every reply: a longer one is refused, not copied.
constexpr size_t kMaxIdLength = 64;

constexpr std::string_view kMethods[] = {
    "SetSubject",  "SetChallenge", "GetCSR",   "ImportCert",   "FindCert",
    "IsCertExist", "DelCert",      "CertSign", "Base64Encode", "Base64Decode",
};
constexpr std::string_view kProperties[] = {"Version", "HostName"};

template <size_t N>
bool OneOf(const std::string_view (&names)[N], std::string_view name) {
  for (std::string_view n : names) {
    if (n == name) return true;
  }
  return false;
}

// False at the end of input, whether or not some bytes came first.
bool ReadExactly(char* buffer, size_t size) {
  while (size > 0) {
    const size_t n = std::fread(buffer, 1, size, stdin);
    if (n == 0) return false;
    buffer += n;
    size -= n;
  }
  return true;
}

bool Skip(uint32_t size) {
  char chunk[65536];
  while (size > 0) {
    const uint32_t n = size < sizeof chunk ? size : static_cast<uint32_t>(sizeof chunk);
    if (!ReadExactly(chunk, n)) return false;
    size -= n;
  }
  return true;
}

bool WriteMessage(const std::string& body) {
  const uint32_t size = static_cast<uint32_t>(body.size());
  const unsigned char header[4] = {
      static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
      static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
  return std::fwrite(header, 1, 4, stdout) == 4 &&
         std::fwrite(body.data(), 1, body.size(), stdout) == body.size() &&
         std::fflush(stdout) == 0;
}

std::string ErrorReply(const std::string& id, const std::string& reason) {
  return "{\"id\":" + id + ",\"ok\":false,\"error\":" + json::Quote(reason) + "}";
}

std::string ValueReply(const std::string& id, const std::string& value) {
  return "{\"id\":" + id + ",\"ok\":true,\"value\":" + value + "}";
}

std::string ValueText(const Value& value) {
  if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const int32_t* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
  if (const double* d = std::get_if<double>(&value)) return json::FormatNumber(*d);
  if (const std::string* s = std::get_if<std::string>(&value)) return json::Quote(*s);
  // void, null, and objects, which the plug-in never returns.
  return "null";
}

// Arguments become the NPVariants a page's script would pass: whole numbers
// in int32 range as int32, other numbers as double. Text is moved, not copied.
bool ToArgument(json::Value& in, Value& out) {
  switch (in.type) {
    case json::Type::Null:
      out = nullptr;
      return true;
    case json::Type::Bool:
      out = in.boolean;
      return true;
    case json::Type::String:
      out = std::move(in.text);
      return true;
    case json::Type::Number:
      if (const std::optional<int32_t> whole = json::AsInt32(in.number)) {
        out = *whole;
      } else {
        out = in.number;
      }
      return true;
    default:
      return false;
  }
}

// A listed certificate also says whether it has expired.
std::string InfoText(const zvhost::CertificateInfo& info, bool withExpiry = false) {
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
std::string DataText(const zvhost::DataInfo& info) {
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
bool Served(const ScriptObject* object, const std::string& serial) {
  const CallResult result = object->Invoke("IsCertExist", {Value(serial)});
  const int32_t* answer = std::get_if<int32_t>(&result.value);
  return result.ok && answer != nullptr && *answer == 1;
}

// A "thumbprint" member, when there is one: 64 hex digits, the SHA-256 of
// one certificate's DER. False for anything else.
bool ReadThumbprint(const json::Value* thumbprint, std::optional<zvcert::Sha256Digest>& digest) {
  if (thumbprint == nullptr) return true;
  if (thumbprint->type == json::Type::String) digest = zvhost::ThumbprintBytes(thumbprint->text);
  return digest.has_value();
}

// {"describe": {"serial": text}} or {"describe": {"pem": text}}: the
// certificate a DelCert/CertSign or an ImportCert would concern, read from
// the text as the plug-in reads it, so that the extension can name it when it
// asks the user; with "thumbprint" beside the serial, the one signCms would
// sign with; {"describe": {"data": base64}}: CertSign's data as the plug-in
// decodes it. A stored certificate the plug-in does not serve this page is
// not found: no window names what the page cannot act on.
std::string Describe(const ScriptObject* object, const std::string& id, const json::Value& what) {
  if (what.type != json::Type::Object) return ErrorReply(id, "describe is not an object");
  const json::Value* serial = what.Find("serial");
  const json::Value* pem = what.Find("pem");
  const json::Value* data = what.Find("data");
  if (serial != nullptr && serial->type == json::Type::String) {
    std::optional<zvcert::Sha256Digest> digest;
    if (!ReadThumbprint(what.Find("thumbprint"), digest)) {
      return ErrorReply(id, "thumbprint is not 64 hex digits");
    }
    zvhost::CertificateInfo info =
        zvhost::DescribeStoredCertificate(serial->text, digest ? &*digest : nullptr);
    if (info.found && (object == nullptr || !Served(object, info.canonical))) {
      zvhost::CertificateInfo none;
      none.serial = std::move(info.serial);
      none.canonical = std::move(info.canonical);
      info = std::move(none);
    }
    return ValueReply(id, InfoText(info));
  }
  if (pem != nullptr && pem->type == json::Type::String) {
    return ValueReply(id, InfoText(zvhost::DescribePemCertificate(pem->text)));
  }
  if (data != nullptr && data->type == json::Type::String) {
    return ValueReply(id, DataText(zvhost::DescribeSignData(data->text)));
  }
  return ErrorReply(id, "describe needs a serial, a pem or a data text");
}

// {"status": {}}: the host's version and the plug-in's, null when the DLL
// could not be started.
std::string Status(const ScriptObject* object, const std::string& id) {
  std::string plugin = "null";
  if (object != nullptr) {
    const CallResult version = object->GetProperty("Version");
    if (version.ok) plugin = ValueText(version.value);
  }
  return ValueReply(
      id, "{\"host\":" + json::Quote(ZVCERT_PROJECT_VERSION) + ",\"plugin\":" + plugin + "}");
}

// {"list": {}}: the authority's certificates the plug-in serves this page,
// in store order.
std::string List(const ScriptObject* object, const std::string& id) {
  if (object == nullptr) return ErrorReply(id, "npzvcert.dll could not be started");
  std::string items;
  for (const zvhost::CertificateInfo& info : zvhost::ListAuthorityCertificates()) {
    if (!Served(object, info.serial)) continue;
    if (!items.empty()) items += ',';
    items += InfoText(info, true);
    if (items.size() > kMaxReply) return ErrorReply(id, "the reply would exceed 1 MiB");
  }
  return ValueReply(id, "[" + items + "]");
}

const char* CmsError(zvcert::CmsResult result) {
  using zvcert::CmsResult;
  switch (result) {
    case CmsResult::StoreNotOpened:
      return "the certificate store cannot be opened";
    case CmsResult::NotFound:
      return "no such certificate from the authority";
    case CmsResult::NoKeyInfo:
    case CmsResult::NoContainerNamed:
      return "the certificate names no private key";
    case CmsResult::ContainerNotOpened:
      return "the certificate's private key cannot be opened";
    case CmsResult::MessageNotOpened:
    case CmsResult::NotSigned:
    case CmsResult::NotEncoded:
      return "the data could not be signed";
    case CmsResult::Ok:
      break;
  }
  return "";
}

// {"signCms": {"serial": text, "data": base64, "detached": bool,
// "thumbprint": hex}}: a CMS SignedData of the data with the key of the
// authority's certificate of that serial (and thumbprint, when given) that
// the root's key signed. Serial and data are read as describe reads them, so
// what the user was shown is what is signed; the plug-in must serve the
// certificate to this page.
std::string SignCms(const ScriptObject* object, const std::string& id, const json::Value& what) {
  if (what.type != json::Type::Object) return ErrorReply(id, "signCms is not an object");
  const json::Value* serial = what.Find("serial");
  const json::Value* data = what.Find("data");
  const json::Value* detached = what.Find("detached");
  if (serial == nullptr || serial->type != json::Type::String || data == nullptr ||
      data->type != json::Type::String) {
    return ErrorReply(id, "signCms needs a serial and a data text");
  }
  if (detached != nullptr && detached->type != json::Type::Bool) {
    return ErrorReply(id, "detached is not a boolean");
  }
  std::optional<zvcert::Sha256Digest> digest;
  if (!ReadThumbprint(what.Find("thumbprint"), digest)) {
    return ErrorReply(id, "thumbprint is not 64 hex digits");
  }
  const bool leaveOut = detached != nullptr && detached->boolean;
  std::string bytes;
  if (!zvhost::DecodeSignData(data->text, bytes)) {
    return ErrorReply(id, "data is not Base64 the plug-in accepts");
  }
#if ZVCERT_SIGN_TEXT_ONLY
  // Such a build signs only what the consent window could show the user.
  const std::string_view unshown = zvhost::ShowSignedText(bytes).unshown;
  if (!unshown.empty()) {
    return ErrorReply(id, "the data cannot be shown as text (" + std::string(unshown) +
                              "), and this build signs only text the user can read");
  }
#endif
  // The content alone would not fit in the reply.
  if (!leaveOut && zvcert::Base64Length(bytes.size()) > kMaxReply) {
    return ErrorReply(id, "the reply would exceed 1 MiB");
  }
  if (object == nullptr) return ErrorReply(id, "npzvcert.dll could not be started");
  if (!Served(object, serial->text)) {
    return ErrorReply(id, "no such certificate from the authority is served to this page");
  }
  std::array<char, 128> rootName{};
  zvcert::ReadRootIssuerName(rootName);
  if (rootName[0] == '\0') return ErrorReply(id, "the authority's root cannot be read");
  std::vector<uint8_t> der;
  const zvcert::CmsResult result = zvcert::SignCmsWithStoredCert(
      zvcert::SerialArgument(serial->text), rootName.data(),
      {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, leaveOut, der,
      digest ? std::span<const uint8_t>(*digest) : std::span<const uint8_t>());
  if (result != zvcert::CmsResult::Ok) return ErrorReply(id, CmsError(result));
  // Answer refuses a reply over 1 MiB.
  std::string text(zvcert::Base64Length(der.size()), '\0');
  int32_t length = 0;
  if (zvcert::Base64EncodeBuffer(der.data(), static_cast<int32_t>(der.size()), text.data(),
                                 static_cast<int32_t>(text.size()), &length) != 0) {
    return ErrorReply(id, "the signature could not be encoded");
  }
  return ValueReply(id, json::Quote(text));
}

// {"page": origin}: the origin of the page the connection serves, as the
// extension was told it by the browser. The plug-in reads it as
// window.location.origin, which a build locked to the authority's pages
// checks. Once per connection: a page cannot move the connection elsewhere.
std::string SetPage(const std::string& id, const json::Value& origin) {
  static bool set = false;
  if (origin.type != json::Type::String || origin.text.empty() || origin.text.size() > 2048) {
    return ErrorReply(id, "page is not an origin text of 1 to 2048 characters");
  }
  if (set) return ErrorReply(id, "the page is already set");
  set = true;
  Browser::SetPage(Browser::Page{true, Browser::Page::Location::Object, origin.text});
  return ValueReply(id, "null");
}

// The message is let go of once read: what it holds is in the document then,
// and the call may need the room.
std::string Answer(const ScriptObject* object, std::unique_ptr<char[]> message, size_t size) {
  json::ParseResult doc = json::Parse({message.get(), size});
  message.reset();
  // A document refused for a limit is answered under its id when that came
  // before what was refused.
  if (!doc.ok && !doc.overLimit) return ErrorReply("null", "malformed JSON: " + doc.error);
  if (doc.value.type != json::Type::Object) {
    return ErrorReply("null", doc.ok ? "not a JSON object" : doc.error);
  }

  const json::Value* idValue = doc.value.Find("id");
  const bool idUsable = idValue != nullptr && (idValue->type == json::Type::Number ||
                                               idValue->type == json::Type::String);
  if (!idUsable) {
    return ErrorReply("null", doc.ok ? "id missing or not a number or string" : doc.error);
  }
  if (idValue->text.size() > kMaxIdLength) {
    return ErrorReply("null", doc.ok ? "id longer than 64 characters" : doc.error);
  }
  const std::string id =
      idValue->type == json::Type::Number ? idValue->text : json::Quote(idValue->text);
  if (!doc.ok) return ErrorReply(id, doc.error);

  if (const json::Value* page = doc.value.Find("page")) return SetPage(id, *page);

  std::string reply;
  if (const json::Value* what = doc.value.Find("describe")) {
    reply = Describe(object, id, *what);
  } else if (doc.value.Find("status") != nullptr) {
    reply = Status(object, id);
  } else if (doc.value.Find("list") != nullptr) {
    reply = List(object, id);
  } else if (const json::Value* sign = doc.value.Find("signCms")) {
    reply = SignCms(object, id, *sign);
  }
  if (!reply.empty()) {
    if (reply.size() > kMaxReply) return ErrorReply(id, "the reply would exceed 1 MiB");
    return reply;
  }

  const json::Value* member = doc.value.Find("member");
  if (member == nullptr || member->type != json::Type::String) {
    return ErrorReply(id, "member missing or not a string");
  }
  const bool isMethod = OneOf(kMethods, member->text);
  if (!isMethod && !OneOf(kProperties, member->text)) {
    return ErrorReply(id, "unknown member");
  }

  std::vector<Value> args;
  if (json::Value* list = doc.value.Find("args")) {
    if (list->type != json::Type::Array) return ErrorReply(id, "args is not an array");
    for (size_t i = 0; i < list->items.size(); ++i) {
      Value arg;
      if (!ToArgument(list->items[i], arg)) {
        return ErrorReply(
            id, "argument " + std::to_string(i + 1) + " is not a string, number, boolean or null");
      }
      args.push_back(std::move(arg));
    }
  }
  if (!isMethod && !args.empty()) return ErrorReply(id, "a property takes no arguments");
  if (object == nullptr) return ErrorReply(id, "npzvcert.dll could not be started");

  // A text result longer than a reply may be is not even copied.
  const CallResult result = isMethod ? object->Invoke(member->text, std::move(args), kMaxReply)
                                     : object->GetProperty(member->text);
  if (result.noMemory) return ErrorReply(id, "out of memory");
  if (result.textTooLong) return ErrorReply(id, "the reply would exceed 1 MiB");
  reply = "{\"id\":" + id + ",\"ok\":" + (result.ok ? "true" : "false") +
          ",\"value\":" + ValueText(result.value) + "}";
  if (reply.size() > kMaxReply) return ErrorReply(id, "the reply would exceed 1 MiB");
  return reply;
}

#if ZVCERT_BROWSER_CHECKS
std::wstring PluginPath(int argc, char** argv) {
  constexpr std::string_view kOption = "--plugin=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, kOption.size()) != kOption) continue;
    std::wstring path(arg.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, argv[i] + kOption.size(), -1, path.data(),
                                      static_cast<int>(path.size()));
    path.resize(n > 0 ? n - 1 : 0);
    return path;
  }
  return zvhost::DefaultPluginPath();
}

// What a browser would notice once the instance is gone: routines the
// plug-in must not call, misuse, memory or objects left behind.
int BrowserVerdict() {
  bool clean = true;
  for (const std::string& name : Browser::UnexpectedCalls()) {
    std::fprintf(stderr, "npzvcert-host: the plug-in called %s\n", name.c_str());
    clean = false;
  }
  for (const std::string& misuse : Browser::Errors()) {
    std::fprintf(stderr, "npzvcert-host: %s\n", misuse.c_str());
    clean = false;
  }
  if (Browser::OutstandingAllocations() != 0 || Browser::LiveObjects() != 0) {
    std::fprintf(stderr, "npzvcert-host: %u allocations and %u objects left\n",
                 static_cast<unsigned>(Browser::OutstandingAllocations()),
                 static_cast<unsigned>(Browser::LiveObjects()));
    clean = false;
  }
  return clean ? 0 : 2;
}
#endif

}  // namespace

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);

#if ZVCERT_BROWSER_CHECKS
  Browser browser(PluginPath(argc, argv));
#else
  Browser browser;
#endif
  // A page, whose window appears once the extension names its origin.
  Browser::SetPage(Browser::Page{false, Browser::Page::Location::Missing, {}});
  std::unique_ptr<Instance> instance;
  std::unique_ptr<ScriptObject> object;
  if (browser.loaded() && browser.Start() == NPERR_NO_ERROR) {
    instance = browser.NewInstance();
    if (instance->newError() == NPERR_NO_ERROR) object = instance->GetScriptableObject();
  }
  if (object == nullptr) std::fputs("npzvcert-host: npzvcert.dll could not be started\n", stderr);

  for (;;) {
    unsigned char header[4];
    if (!ReadExactly(reinterpret_cast<char*>(header), sizeof header)) break;
    const uint32_t size =
        header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
    const char* refusal = size > kMaxRequest ? "message longer than 64 MiB" : nullptr;
    std::unique_ptr<char[]> message;
    if (refusal == nullptr) {
      message.reset(new (std::nothrow) char[size == 0 ? 1 : size]);
      if (message == nullptr) refusal = "out of memory";
    }
    if (refusal != nullptr) {
      // Refused before reading; skipping it keeps the next message in step.
      if (!WriteMessage(ErrorReply("null", refusal)) || !Skip(size)) break;
      continue;
    }
    if (!ReadExactly(message.get(), size)) break;
    if (!WriteMessage(Answer(object.get(), std::move(message), size))) break;
  }
  object.reset();
  instance.reset();
#if ZVCERT_BROWSER_CHECKS
  return BrowserVerdict();
#else
  return 0;
#endif
}
