// Test data that more than one test uses, and its readers. Portable: the
// native core tests include it too, so nothing here may need windows.h.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "request/subject_name.h"
#include "store/serial.h"

namespace zvcert::testing {

// A file of tests/material, whole; empty when it cannot be read.
inline std::string ReadMaterial(const char* name) {
  std::ifstream in(std::string(ZVCERT_MATERIAL_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A serial as the module holds it: least significant byte first.
inline SerialValue Serial(uint64_t value) {
  SerialValue s;
  // Bytes beyond the value's eight are zero: a shift by 64 bits or more is undefined.
  for (size_t i = 0; i < s.size(); ++i) s[i] = i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
  return s;
}

// RFC 4648, section 10: bytes and their Base64.
inline const std::pair<std::string, std::string> kRfc4648Base64[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

// Certificate armour around good Base64 ("foobar") that is no DER.
inline constexpr char kPemNotDer[] =
    "-----BEGIN CERTIFICATE-----\nZm9vYmFy\n-----END CERTIFICATE-----";

// The worked example: the subject a fresh object holds, a value for each of
// the ten keys a request reads.
inline constexpr SubjectValues kWorkedExampleSubject = {
    "CN",                   // C
    "ZV",                   // ST
    "ZV",                   // L
    "OFFICE",               // O
    "THIS-PC",              // OU
    "ZVUSER",               // CN
    "service@zvcert.test",  // E
    "1111222233334444",     // SN
    "3975136",              // G
    "Title",                // T
};
// The same as page script writes it.
inline constexpr std::string_view kWorkedExampleSubjectText =
    "C=CN, ST=ZV, L=ZV, O=OFFICE, OU=THIS-PC, SN=1111222233334444, CN=ZVUSER, "
    "G=3975136, T=Title, E=service@zvcert.test";
// The same as OpenSSL prints a request's subject, in the Name's order.
inline constexpr char kWorkedExampleOpenSslSubject[] =
    "C = CN, ST = ZV, L = ZV, O = OFFICE, OU = THIS-PC, CN = ZVUSER, SN = 1111222233334444, "
    "GN = 3975136, title = Title, emailAddress = service@zvcert.test";

}  // namespace zvcert::testing
