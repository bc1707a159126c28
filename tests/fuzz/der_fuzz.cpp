// The request encoders under random values, lengths and key blobs. The last
// input byte picks the encoder (subject Name, request attributes, public key
// info or the whole request info); the rest gives its arguments, with value
// lengths biased towards what people type and towards the cut-off lengths.
//
// Inputs lie in heap buffers of exactly their size and every output area is
// one exactly as large as the API allows (AddressSanitizer catches any access
// outside them). Then, for every input, OpenSSL builds the expected structure
// from the same values and encodes it as DER:
//  - the encoder must refuse (return 0) exactly when that encoding would not
//    fit its area or the key blob cannot hold the key, and otherwise give
//    exactly those bytes;
//  - what it gives must read back through OpenSSL's parser with the same
//    values and re-encode to the same bytes (strict DER).
// LLVMFuzzerInitialize first shows that these read-back checks refuse a few
// hand-made encodings that are not DER, so that they cannot pass vacuously.
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "request/request_body.h"
#include "request/subject_name.h"

namespace {

using zvcert::BuildRequestInfo;
using zvcert::EncodePublicKeyInfo;
using zvcert::EncodeRequestAttributes;
using zvcert::EncodeSubjectName;
using zvcert::kAttributesAreaSize;
using zvcert::kKeyInfoAreaSize;
using zvcert::kNameAreaSize;
using zvcert::SubjectValues;

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "der_fuzz: %s\n", why);
  std::abort();
}

void PrintHex(const char* label, std::span<const uint8_t> bytes) {
  std::fprintf(stderr, "%s (%zu):", label, bytes.size());
  for (const uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
  std::fprintf(stderr, "\n");
}

// A result that differs from OpenSSL's encoding of the same values.
[[noreturn]] void FailDiffering(const char* why, std::span<const uint8_t> got,
                                std::span<const uint8_t> expected) {
  PrintHex("encoder", got);
  PrintHex("OpenSSL", expected);
  Fail(why);
}

// --- OpenSSL objects ---------------------------------------------------------

struct Free {
  void operator()(X509_NAME* p) const { X509_NAME_free(p); }
  void operator()(X509_REQ* p) const { X509_REQ_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

template <class T, class Encoder>
Bytes Encode(T* object, Encoder i2d) {
  const int n = i2d(object, nullptr);
  if (n <= 0) Fail("OpenSSL cannot encode what it was given");
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d(object, &p);
  return out;
}

// Object identifiers written out here, not taken from the code under test.
struct Oids {
  // In the order of the Name: C, ST, L, O, OU, CN, SN, G, T, then e-mail.
  std::array<ASN1_OBJECT*, 10> name;
  ASN1_OBJECT* unstructuredName;
  ASN1_OBJECT* challengePassword;
};

const Oids& TheOids() {
  static const Oids oids = [] {
    const char* const name[] = {
        "2.5.4.6", "2.5.4.8", "2.5.4.7",  "2.5.4.10", "2.5.4.11",
        "2.5.4.3", "2.5.4.4", "2.5.4.42", "2.5.4.12", "1.2.840.113549.1.9.1"};
    Oids o{};
    for (size_t i = 0; i < o.name.size(); ++i) o.name[i] = OBJ_txt2obj(name[i], 1);
    o.unstructuredName = OBJ_txt2obj("1.2.840.113549.1.9.2", 1);
    o.challengePassword = OBJ_txt2obj("1.2.840.113549.1.9.7", 1);
    return o;
  }();
  return oids;
}

// Where each Name entry's value comes from in SubjectValues.
constexpr std::array<size_t, 10> kNameSource = {zvcert::kC,  zvcert::kST, zvcert::kL,  zvcert::kO,
                                                zvcert::kOU, zvcert::kCN, zvcert::kSN, zvcert::kG,
                                                zvcert::kT,  zvcert::kE};

// --- What the values should become -----------------------------------------

bool InRange(uint8_t b, uint8_t low, uint8_t high) { return b >= low && b <= high; }

// The length of the well-formed UTF-8 sequence at text[pos] (by the table of
// well-formed byte sequences), or 0 when none starts there.
size_t WellFormedLength(std::string_view text, size_t pos) {
  const auto b0 = static_cast<uint8_t>(text[pos]);
  if (b0 < 0x80) return 1;
  size_t needed = 0;
  uint8_t low = 0x80, high = 0xBF;
  if (InRange(b0, 0xC2, 0xDF)) {
    needed = 2;
  } else if (b0 == 0xE0) {
    needed = 3, low = 0xA0;
  } else if (InRange(b0, 0xE1, 0xEC) || InRange(b0, 0xEE, 0xEF)) {
    needed = 3;
  } else if (b0 == 0xED) {
    needed = 3, high = 0x9F;
  } else if (b0 == 0xF0) {
    needed = 4, low = 0x90;
  } else if (InRange(b0, 0xF1, 0xF3)) {
    needed = 4;
  } else if (b0 == 0xF4) {
    needed = 4, high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - pos < needed) return 0;
  if (!InRange(static_cast<uint8_t>(text[pos + 1]), low, high)) return 0;
  for (size_t i = 2; i < needed; ++i) {
    if (!InRange(static_cast<uint8_t>(text[pos + i]), 0x80, 0xBF)) return 0;
  }
  return needed;
}

// Code points of text; a byte that starts no well-formed sequence is U+FFFD.
std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  for (size_t pos = 0; pos < text.size();) {
    const size_t n = WellFormedLength(text, pos);
    if (n == 0) {
      out.push_back(0xFFFD);
      ++pos;
      continue;
    }
    static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = static_cast<uint8_t>(text[pos]) & kLeadBits[n];
    for (size_t i = 1; i < n; ++i) cp = cp << 6 | (static_cast<uint8_t>(text[pos + i]) & 0x3F);
    out.push_back(cp);
    pos += n;
  }
  return out;
}

void AppendUtf8(Bytes& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<uint8_t>(cp));
  } else if (cp < 0x800) {
    out.insert(out.end(),
               {static_cast<uint8_t>(0xC0 | cp >> 6), static_cast<uint8_t>(0x80 | (cp & 0x3F))});
  } else if (cp < 0x10000) {
    out.insert(out.end(), {static_cast<uint8_t>(0xE0 | cp >> 12),
                           static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F)),
                           static_cast<uint8_t>(0x80 | (cp & 0x3F))});
  } else {
    out.insert(
        out.end(),
        {static_cast<uint8_t>(0xF0 | cp >> 18), static_cast<uint8_t>(0x80 | (cp >> 12 & 0x3F)),
         static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F)), static_cast<uint8_t>(0x80 | (cp & 0x3F))});
  }
}

Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A directory string: UTF-16BE, one unit per character (U+FFFD for those
// beyond the BMP), at most 48 units.
Bytes BmpOf(std::string_view value) {
  Bytes out;
  for (char32_t cp : DecodeUtf8(value)) {
    if (out.size() == 2 * zvcert::kMaxNameUnits) break;
    if (cp > 0xFFFF) cp = 0xFFFD;
    out.push_back(static_cast<uint8_t>(cp >> 8));
    out.push_back(static_cast<uint8_t>(cp));
  }
  return out;
}

struct TypedText {
  int type;  // V_ASN1_*
  Bytes bytes;
};

constexpr std::string_view kPrintable =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '()+,-./:=?";

// A challenge attribute: beyond 48 bytes only the first 30 count; a
// PrintableString when every character may stand in one, else UTF-8 made
// well-formed.
TypedText AttributeOf(std::string_view value) {
  if (value.size() > 48) value = value.substr(0, 30);
  if (value.find_first_not_of(kPrintable) == std::string_view::npos) {
    return {V_ASN1_PRINTABLESTRING, BytesOf(value)};
  }
  Bytes utf8;
  for (const char32_t cp : DecodeUtf8(value)) AppendUtf8(utf8, cp);
  return {V_ASN1_UTF8STRING, utf8};
}

struct KeyValues {
  Bytes modulus;  // big-endian
  uint32_t exponent;
};

// The key a PUBLICKEYBLOB holds, when it holds a whole one the encoder takes:
// a modulus of 1 to 512 bytes (bit length / 8), all of it inside the blob.
std::optional<KeyValues> KeyOf(std::span<const uint8_t> blob) {
  const auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(blob[at]) | static_cast<uint32_t>(blob[at + 1]) << 8 |
           static_cast<uint32_t>(blob[at + 2]) << 16 | static_cast<uint32_t>(blob[at + 3]) << 24;
  };
  if (blob.size() < 20) return std::nullopt;
  const size_t modulusBytes = le32(12) / 8;
  if (modulusBytes == 0 || modulusBytes > 512 || blob.size() - 20 < modulusBytes) {
    return std::nullopt;
  }
  KeyValues key;
  key.modulus.assign(blob.rend() - 20 - modulusBytes, blob.rend() - 20);
  key.exponent = le32(16);
  return key;
}

// --- The same built by OpenSSL -----------------------------------------------

Owned<X509_NAME> ExpectedName(const SubjectValues& values) {
  Owned<X509_NAME> name(X509_NAME_new());
  for (size_t i = 0; i < kNameSource.size(); ++i) {
    const std::string_view value = values[kNameSource[i]];
    const bool email = kNameSource[i] == zvcert::kE;
    const Bytes bytes = email ? BytesOf(value.substr(0, zvcert::kMaxEmailBytes)) : BmpOf(value);
    if (!X509_NAME_add_entry_by_OBJ(name.get(), TheOids().name[i],
                                    email ? V_ASN1_IA5STRING : V_ASN1_BMPSTRING, bytes.data(),
                                    static_cast<int>(bytes.size()), -1, 0)) {
      Fail("OpenSSL cannot build the Name");
    }
  }
  return name;
}

Owned<EVP_PKEY> ExpectedKey(const KeyValues& key) {
  Owned<BIGNUM> n(BN_bin2bn(key.modulus.data(), static_cast<int>(key.modulus.size()), nullptr));
  Owned<BIGNUM> e(BN_new());
  Owned<OSSL_PARAM_BLD> build(OSSL_PARAM_BLD_new());
  if (!n || !e || !build || !BN_set_word(e.get(), key.exponent) ||
      !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) ||
      !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get())) {
    Fail("OpenSSL cannot hold the key's numbers");
  }
  Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(build.get()));
  // Fetched once: looking the algorithm up is most of the cost of a key.
  static EVP_PKEY_CTX* const context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* made = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context) <= 0 ||
      EVP_PKEY_fromdata(context, &made, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0) {
    Fail("OpenSSL cannot make the key");
  }
  return Owned<EVP_PKEY>(made);
}

Owned<X509_REQ> ExpectedRequest(X509_NAME* name, EVP_PKEY* key, const TypedText& unstructured,
                                const TypedText& challenge) {
  Owned<X509_REQ> request(X509_REQ_new());
  const auto add = [&](ASN1_OBJECT* oid, const TypedText& text) {
    return X509_REQ_add1_attr_by_OBJ(request.get(), oid, text.type, text.bytes.data(),
                                     static_cast<int>(text.bytes.size()));
  };
  if (!request || !X509_REQ_set_version(request.get(), 0) ||
      !X509_REQ_set_subject_name(request.get(), name) || !X509_REQ_set_pubkey(request.get(), key) ||
      !add(TheOids().unstructuredName, unstructured) ||
      !add(TheOids().challengePassword, challenge)) {
    Fail("OpenSSL cannot build the request");
  }
  return request;
}

// --- Plain DER pieces for the wrappers ---------------------------------------

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n <= 0xFF) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else if (n <= 0xFFFF) {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  } else {
    Fail("wrapper too long");
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The size of the element (header and content) at the front of der.
size_t ElementSize(std::span<const uint8_t> der) {
  if (der.size() < 2) Fail("truncated element");
  size_t header = 2, length = der[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 2 || der.size() < 2 + count) Fail("unexpected length form");
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | der[2 + i];
    header += count;
  }
  if (der.size() - header < length) Fail("element beyond its container");
  return header + length;
}

// The attributes block of a request info: what follows version, Name and key.
Bytes AttributesBlockOf(const Bytes& info) {
  if (ElementSize(info) != info.size()) Fail("request info with trailing bytes");
  // Step into the SEQUENCE, then over its first three elements.
  std::span<const uint8_t> content(info);
  content = content.subspan(info[1] & 0x80 ? 2 + (info[1] & 0x7F) : 2);
  for (int i = 0; i < 3; ++i) content = content.subspan(ElementSize(content));
  return Bytes(content.begin(), content.end());
}

// A CertificationRequest around a request info, with a dummy signature, for
// OpenSSL's parser (which has no entry point for the info alone).
Bytes RequestAround(const Bytes& info) {
  const Bytes algorithm = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                           0xF7, 0x0D, 0x01, 0x01, 0x0B, 0x05, 0x00};
  const Bytes signature = {0x03, 0x02, 0x00, 0x00};
  return Tlv(0x30, Join({info, algorithm, signature}));
}

// A small fixed key for the request info around an attributes block.
const Bytes& FixedKeyInfo() {
  static const Bytes der = [] {
    const Owned<EVP_PKEY> key = ExpectedKey({{0xC5, 0x37, 0x01}, 65537});
    return Encode(key.get(), i2d_PUBKEY);
  }();
  return der;
}

EVP_PKEY* FixedKey() {
  static EVP_PKEY* const key = [] {
    const unsigned char* p = FixedKeyInfo().data();
    return d2i_PUBKEY(nullptr, &p, static_cast<long>(FixedKeyInfo().size()));
  }();
  return key;
}

// --- Reading back ------------------------------------------------------------

bool SameBytes(const ASN1_STRING* s, const Bytes& expected) {
  return static_cast<size_t>(ASN1_STRING_length(s)) == expected.size() &&
         (expected.empty() ||
          std::memcmp(ASN1_STRING_get0_data(s), expected.data(), expected.size()) == 0);
}

// The Name parses whole into ten one-entry RDNs with the expected types and
// values, and a Name built afresh from what was read encodes to the same bytes.
bool NameReadsBack(std::span<const uint8_t> der, const SubjectValues& values) {
  const unsigned char* p = der.data();
  Owned<X509_NAME> name(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
  if (!name || p != der.data() + der.size()) return false;
  if (X509_NAME_entry_count(name.get()) != 10) return false;
  Owned<X509_NAME> fresh(X509_NAME_new());
  for (int i = 0; i < 10; ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
    if (X509_NAME_ENTRY_set(entry) != i) return false;
    const ASN1_OBJECT* oid = X509_NAME_ENTRY_get_object(entry);
    if (OBJ_cmp(oid, TheOids().name[i]) != 0) return false;
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    const std::string_view given = values[kNameSource[i]];
    const bool email = kNameSource[i] == zvcert::kE;
    if (ASN1_STRING_type(value) != (email ? V_ASN1_IA5STRING : V_ASN1_BMPSTRING)) return false;
    if (!SameBytes(value,
                   email ? BytesOf(given.substr(0, zvcert::kMaxEmailBytes)) : BmpOf(given))) {
      return false;
    }
    if (!X509_NAME_add_entry_by_OBJ(fresh.get(), oid, ASN1_STRING_type(value),
                                    ASN1_STRING_get0_data(value), ASN1_STRING_length(value), -1,
                                    0)) {
      return false;
    }
  }
  const Bytes again = Encode(fresh.get(), i2d_X509_NAME);
  return std::equal(again.begin(), again.end(), der.begin(), der.end());
}

bool KeyHolds(const EVP_PKEY* key, const KeyValues& expected) {
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  const bool read = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
  const Owned<BIGNUM> ownN(n), ownE(e);
  if (!read) return false;
  const Owned<BIGNUM> expectedN(
      BN_bin2bn(expected.modulus.data(), static_cast<int>(expected.modulus.size()), nullptr));
  return BN_cmp(n, expectedN.get()) == 0 && BN_is_word(e, expected.exponent);
}

// The key info parses whole as an RSA key with the blob's numbers and
// encodes afresh (from those numbers) to the same bytes.
bool KeyReadsBack(std::span<const uint8_t> der, const KeyValues& expected) {
  const unsigned char* p = der.data();
  Owned<EVP_PKEY> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
  if (!key || p != der.data() + der.size() || !KeyHolds(key.get(), expected)) return false;
  const Bytes again = Encode(key.get(), i2d_PUBKEY);
  return std::equal(again.begin(), again.end(), der.begin(), der.end());
}

bool AttributesHold(X509_REQ* request, const TypedText& unstructured, const TypedText& challenge) {
  if (X509_REQ_get_attr_count(request) != 2) return false;
  for (const auto& [oid, text] : {std::pair{TheOids().unstructuredName, &unstructured},
                                  std::pair{TheOids().challengePassword, &challenge}}) {
    const int at = X509_REQ_get_attr_by_OBJ(request, oid, -1);
    if (at < 0) return false;
    X509_ATTRIBUTE* attribute = X509_REQ_get_attr(request, at);
    if (X509_ATTRIBUTE_count(attribute) != 1) return false;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr || value->type != text->type) return false;
    if (!SameBytes(value->value.asn1_string, text->bytes)) return false;
  }
  return true;
}

// The request info parses (inside a request) with the expected pieces, and
// re-encoded from what was read (its SET OF sorted anew, every length
// recomputed) gives the same bytes.
bool RequestReadsBack(const Bytes& info, const SubjectValues* subject, const KeyValues* key,
                      const TypedText& unstructured, const TypedText& challenge) {
  const Bytes whole = RequestAround(info);
  const unsigned char* p = whole.data();
  Owned<X509_REQ> request(d2i_X509_REQ(nullptr, &p, static_cast<long>(whole.size())));
  if (!request || p != whole.data() + whole.size()) return false;
  if (X509_REQ_get_version(request.get()) != 0) return false;
  if (subject != nullptr) {
    const Bytes name = Encode(X509_REQ_get_subject_name(request.get()), i2d_X509_NAME);
    if (!NameReadsBack(name, *subject)) return false;
  }
  if (key != nullptr) {
    const EVP_PKEY* read = X509_REQ_get0_pubkey(request.get());
    if (read == nullptr || !KeyHolds(read, *key)) return false;
  }
  if (!AttributesHold(request.get(), unstructured, challenge)) return false;
  const Bytes again = Encode(request.get(), i2d_re_X509_REQ_tbs);
  return again == info;
}

bool AttributesReadBack(const Bytes& block, const TypedText& unstructured,
                        const TypedText& challenge) {
  const Bytes info = Tlv(0x30, Join({{0x02, 0x01, 0x00}, {0x30, 0x00}, FixedKeyInfo(), block}));
  return RequestReadsBack(info, nullptr, nullptr, unstructured, challenge);
}

// --- Inputs ------------------------------------------------------------------

// A copy in a heap block of exactly its size.
class ExactText {
 public:
  explicit ExactText(const std::string& text) : size_(text.size()), data_(new char[text.size()]) {
    std::memcpy(data_.get(), text.data(), size_);
  }
  std::string_view view() const { return std::string_view(data_.get(), size_); }

 private:
  size_t size_;
  std::unique_ptr<char[]> data_;
};

char32_t CodePoint(FuzzedDataProvider& in) {
  const uint32_t r = in.ConsumeIntegral<uint32_t>();
  switch (r & 3) {
    case 0:
      return r >> 2 & 0x7F;
    case 1:
      return 0x80 + (r >> 2) % 0x780;
    case 2: {
      const char32_t cp = 0x800 + (r >> 2) % 0xF800;
      return cp >= 0xD800 && cp <= 0xDFFF ? cp + 0x800 : cp;
    }
    default:
      return 0x10000 + (r >> 2) % 0x100000;
  }
}

std::string Value(FuzzedDataProvider& in, size_t typical) {
  const uint8_t shape = in.ConsumeIntegral<uint8_t>();
  static constexpr size_t kEdges[] = {29, 30, 31, 32, 47, 48, 49, 95, 96, 97};
  size_t length = 0;
  switch (shape & 7) {
    case 4:
      length = in.ConsumeIntegralInRange<size_t>(0, 3 * typical);
      break;
    case 5:
      length = kEdges[in.ConsumeIntegralInRange<size_t>(0, std::size(kEdges) - 1)];
      break;
    case 6:
      length = in.ConsumeIntegralInRange<size_t>(0, 200);
      break;
    case 7:
      length = 0;
      break;
    default:
      length = in.ConsumeIntegralInRange<size_t>(0, typical);
      break;
  }
  std::string value;
  switch (shape >> 3 & 3) {
    case 0:
      while (value.size() < length) {
        value.push_back(kPrintable[in.ConsumeIntegral<uint8_t>() % kPrintable.size()]);
      }
      break;
    case 1:
      while (value.size() < length)
        value.push_back(static_cast<char>(in.ConsumeIntegral<uint8_t>() & 0x7F));
      break;
    case 2: {
      // Characters of every width; the length may cut the last one.
      Bytes utf8;
      while (utf8.size() < length) AppendUtf8(utf8, CodePoint(in));
      value.assign(utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(length));
      break;
    }
    default:
      while (value.size() < length)
        value.push_back(static_cast<char>(in.ConsumeIntegral<uint8_t>()));
      break;
  }
  return value;
}

// A PUBLICKEYBLOB: mostly well-formed with a realistic or small bit length,
// sometimes with random header fields, a length off by a few bytes, or none.
Bytes Blob(FuzzedDataProvider& in) {
  const uint8_t shape = in.ConsumeIntegral<uint8_t>();
  Bytes blob = {0x06, 0x02, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 'R', 'S', 'A', '1'};
  if (shape & 1) {
    for (uint8_t& b : blob) b = in.ConsumeIntegral<uint8_t>();
  }
  static constexpr uint32_t kWide[] = {1592, 1600, 1608, 2048, 3072, 4088, 4096, 4104};
  uint32_t bits = 1024;
  switch (shape >> 1 & 7) {
    case 1:
      bits = 512;
      break;
    case 2:
      bits = 8 * in.ConsumeIntegralInRange<uint32_t>(0, 520);
      break;
    case 3:
      bits = in.ConsumeIntegralInRange<uint32_t>(0, 4200);
      break;
    case 4:
      bits = in.ConsumeIntegral<uint32_t>();
      break;
    case 5:
      bits = kWide[in.ConsumeIntegralInRange<size_t>(0, std::size(kWide) - 1)];
      break;
    case 6:
      bits = 8 * in.ConsumeIntegralInRange<uint32_t>(1, 24);
      break;
    default:
      break;
  }
  uint32_t exponent = 65537;
  switch (shape >> 4 & 3) {
    case 1:
      exponent = 3;
      break;
    case 2:
      exponent = in.ConsumeIntegral<uint32_t>();
      break;
    case 3:
      exponent = in.ConsumeIntegralInRange<uint32_t>(0, 0x200);
      break;
    default:
      break;
  }
  for (const uint32_t field : {bits, exponent}) {
    for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(field >> (8 * i)));
  }

  const size_t announced = std::min<size_t>(bits / 8, 600);
  size_t modulusBytes = announced;
  if (shape >> 6 == 2) {
    modulusBytes = std::max<int64_t>(
        0, static_cast<int64_t>(announced) + in.ConsumeIntegralInRange<int64_t>(-2, 2));
  }
  uint32_t state = in.ConsumeIntegral<uint32_t>() | 1;
  for (size_t i = 0; i < modulusBytes; ++i) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    blob.push_back(static_cast<uint8_t>(state));
  }
  if (modulusBytes > 0) {
    // The most significant bytes, last in the blob, decide the INTEGER's form.
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 1:
        blob.back() |= 0x80;
        break;
      case 2:
        blob.back() &= 0x7F;
        break;
      case 3: {
        const size_t zeros = std::min(modulusBytes, in.ConsumeIntegralInRange<size_t>(1, 4));
        std::fill(blob.end() - static_cast<std::ptrdiff_t>(zeros), blob.end(), 0);
        break;
      }
      case 4:
        std::fill(blob.end() - static_cast<std::ptrdiff_t>(modulusBytes), blob.end(), 0);
        break;
      default:
        break;
    }
  }
  if (shape >> 6 == 3) blob.resize(in.ConsumeIntegralInRange<size_t>(0, 40));
  return blob;
}

struct Area {
  explicit Area(size_t size) : size(size), data(new uint8_t[size]) {
    std::memset(data.get(), 0xA5, size);
  }
  size_t size;
  std::unique_ptr<uint8_t[]> data;
};

// --- The checks --------------------------------------------------------------

void CheckName(const SubjectValues& values) {
  Area out(kNameAreaSize);
  const int32_t n =
      EncodeSubjectName(std::span<uint8_t, kNameAreaSize>(out.data.get(), out.size), values);
  const Bytes expected = Encode(ExpectedName(values).get(), i2d_X509_NAME);
  if (expected.size() > kNameAreaSize) {
    if (n != 0) Fail("Name beyond 512 bytes not refused");
    if (std::any_of(out.data.get(), out.data.get() + out.size,
                    [](uint8_t b) { return b != 0xA5; })) {
      Fail("refused Name still written");
    }
    return;
  }
  const std::span<const uint8_t> got(out.data.get(), static_cast<size_t>(std::max(n, 0)));
  if (!std::equal(got.begin(), got.end(), expected.begin(), expected.end())) {
    FailDiffering("Name differs", got, expected);
  }
  if (!NameReadsBack(got, values)) Fail("Name does not read back");
}

void CheckKeyInfo(std::span<const uint8_t> blob) {
  Area out(kKeyInfoAreaSize);
  const int32_t n =
      EncodePublicKeyInfo(blob, std::span<uint8_t, kKeyInfoAreaSize>(out.data.get(), out.size));
  const std::optional<KeyValues> key = KeyOf(blob);
  if (!key) {
    if (n != 0) Fail("key info from a blob that does not hold the key");
    return;
  }
  const Bytes expected = Encode(ExpectedKey(*key).get(), i2d_PUBKEY);
  const std::span<const uint8_t> got(out.data.get(), static_cast<size_t>(std::max(n, 0)));
  if (!std::equal(got.begin(), got.end(), expected.begin(), expected.end())) {
    FailDiffering("key info differs", got, expected);
  }
  if (!KeyReadsBack(got, *key)) Fail("key info does not read back");
}

void CheckAttributes(std::string_view unstructured, std::string_view challenge) {
  Area out(kAttributesAreaSize);
  const int32_t n = EncodeRequestAttributes(
      unstructured, challenge, std::span<uint8_t, kAttributesAreaSize>(out.data.get(), out.size));
  const TypedText name = AttributeOf(unstructured), password = AttributeOf(challenge);
  const Owned<X509_NAME> emptyName(X509_NAME_new());
  const Bytes expected = AttributesBlockOf(Encode(
      ExpectedRequest(emptyName.get(), FixedKey(), name, password).get(), i2d_re_X509_REQ_tbs));
  if (expected.size() > kAttributesAreaSize) {
    if (n != 0) Fail("attributes beyond 256 bytes not refused");
    return;
  }
  const Bytes got(out.data.get(), out.data.get() + std::max(n, 0));
  if (got != expected) FailDiffering("attributes differ", got, expected);
  if (!AttributesReadBack(got, name, password)) Fail("attributes do not read back");
}

void CheckRequestInfo(std::span<const uint8_t> blob, const SubjectValues& subject,
                      std::string_view unstructured, std::string_view challenge, uint8_t room) {
  const TypedText name = AttributeOf(unstructured), password = AttributeOf(challenge);
  const Owned<X509_NAME> expectedName = ExpectedName(subject);
  const std::optional<KeyValues> key = KeyOf(blob);
  std::optional<Bytes> expected;
  if (key && Encode(expectedName.get(), i2d_X509_NAME).size() <= kNameAreaSize) {
    const Owned<X509_REQ> request =
        ExpectedRequest(expectedName.get(), ExpectedKey(*key).get(), name, password);
    const Bytes info = Encode(request.get(), i2d_re_X509_REQ_tbs);
    if (AttributesBlockOf(info).size() <= kAttributesAreaSize) expected = info;
  }
  // An area around the size needed, a tiny one, or one that always suffices.
  size_t size = 7 + kNameAreaSize + kKeyInfoAreaSize + kAttributesAreaSize;
  if (room < 128 && expected) size = expected->size() + room % 7 - 3;
  if (room >= 128 && room < 144) size = room - 128;
  Area out(size);
  const int32_t n = BuildRequestInfo(std::span<uint8_t>(out.data.get(), out.size), blob, subject,
                                     unstructured, challenge);
  if (!expected || expected->size() > size) {
    if (n != 0) Fail("request info not refused");
    return;
  }
  const Bytes got(out.data.get(), out.data.get() + std::max(n, 0));
  if (got != *expected) FailDiffering("request info differs", got, *expected);
  if (!RequestReadsBack(got, &subject, &*key, name, password)) {
    Fail("request info does not read back");
  }
}

// --- The read-back checks refuse what is not DER -----------------------------

// The element with its length written one byte longer than needed.
Bytes LongLength(const Bytes& der) {
  const size_t header = der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2;
  const size_t length = der.size() - header;
  Bytes out{der[0]};
  if (length < 0x80) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(length)});
  } else if (length <= 0xFF) {
    out.insert(out.end(), {0x82, 0x00, static_cast<uint8_t>(length)});
  } else {
    out.insert(out.end(),
               {0x83, 0x00, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  }
  out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(header), der.end());
  return out;
}

void CheckTheCheckers() {
  const SubjectValues subject = {"CN", "ZV", "", "OFFICE", "", "ZVUSER", "a@b.test", "", "", ""};
  const Bytes name = Encode(ExpectedName(subject).get(), i2d_X509_NAME);
  if (!NameReadsBack(name, subject) || NameReadsBack(LongLength(name), subject)) {
    Fail("self-check: Name read-back");
  }

  const KeyValues key = {{0x80, 0x11, 0x22}, 3};
  const Bytes keyInfo = Encode(ExpectedKey(key).get(), i2d_PUBKEY);
  // The same key with its modulus INTEGER given a superfluous leading zero.
  const Bytes algorithm = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                           0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
  const Bytes padded = Tlv(
      0x30,
      Join({algorithm, Tlv(0x03, Join({{0x00},
                                       Tlv(0x30, Join({{0x02, 0x05, 0x00, 0x00, 0x80, 0x11, 0x22},
                                                       {0x02, 0x01, 0x03}}))}))}));
  if (!KeyReadsBack(keyInfo, key) || KeyReadsBack(LongLength(keyInfo), key) ||
      KeyReadsBack(padded, key)) {
    Fail("self-check: key info read-back");
  }

  const TypedText shortValue = AttributeOf("a"), longValue = AttributeOf("a longer value");
  const Owned<X509_NAME> emptyName(X509_NAME_new());
  const Bytes block = AttributesBlockOf(
      Encode(ExpectedRequest(emptyName.get(), FixedKey(), longValue, shortValue).get(),
             i2d_re_X509_REQ_tbs));
  // The two attributes the other way round: not in DER's SET OF order.
  const size_t first = ElementSize(std::span(block).subspan(2));
  const Bytes swapped = Join({{block[0], block[1]},
                              Bytes(block.begin() + 2 + first, block.end()),
                              Bytes(block.begin() + 2, block.begin() + 2 + first)});
  if (!AttributesReadBack(block, longValue, shortValue) ||
      AttributesReadBack(swapped, longValue, shortValue) ||
      AttributesReadBack(LongLength(block), longValue, shortValue)) {
    Fail("self-check: attributes read-back");
  }

  const Bytes info = Encode(
      ExpectedRequest(ExpectedName(subject).get(), ExpectedKey(key).get(), longValue, shortValue)
          .get(),
      i2d_re_X509_REQ_tbs);
  if (!RequestReadsBack(info, &subject, &key, longValue, shortValue) ||
      RequestReadsBack(LongLength(info), &subject, &key, longValue, shortValue)) {
    Fail("self-check: request info read-back");
  }
  ERR_clear_error();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CheckTheCheckers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int which = in.ConsumeIntegralInRange(0, 3);
  if (which == 0 || which == 3) {
    std::array<std::string, zvcert::kSubjectKeyCount> texts;
    for (size_t i = 0; i < texts.size(); ++i) texts[i] = Value(in, i == zvcert::kE ? 24 : 14);
    std::array<std::unique_ptr<ExactText>, zvcert::kSubjectKeyCount> exact;
    SubjectValues values;
    for (size_t i = 0; i < texts.size(); ++i) {
      exact[i] = std::make_unique<ExactText>(texts[i]);
      values[i] = exact[i]->view();
    }
    if (which == 0) {
      CheckName(values);
    } else {
      const ExactText unstructured(Value(in, 20)), challenge(Value(in, 20));
      const uint8_t room = in.ConsumeIntegral<uint8_t>();
      const Bytes blob = Blob(in);
      const std::unique_ptr<uint8_t[]> exactBlob(new uint8_t[blob.size()]);
      std::copy(blob.begin(), blob.end(), exactBlob.get());
      CheckRequestInfo(std::span<const uint8_t>(exactBlob.get(), blob.size()), values,
                       unstructured.view(), challenge.view(), room);
    }
  } else if (which == 1) {
    const ExactText unstructured(Value(in, 20)), challenge(Value(in, 20));
    CheckAttributes(unstructured.view(), challenge.view());
  } else {
    const Bytes blob = Blob(in);
    const std::unique_ptr<uint8_t[]> exactBlob(new uint8_t[blob.size()]);
    std::copy(blob.begin(), blob.end(), exactBlob.get());
    CheckKeyInfo(std::span<const uint8_t>(exactBlob.get(), blob.size()));
  }
  ERR_clear_error();
  return 0;
}
