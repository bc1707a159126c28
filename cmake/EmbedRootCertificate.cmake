# Turns a PEM file holding one X.509 certificate into the C++ source of
# rootCertificatePem: tab-indented lines of 64 Base64 characters between the
# BEGIN and END lines, LF separators, no LF after the end line.
#
# As a function:  zvcert_embed_root_certificate(<pem file> <output .cpp>)
# As a script:    cmake -DPEM=<file> -DOUTPUT=<file> -P EmbedRootCertificate.cmake
# Fails with a message naming the file when it is not exactly one certificate.

function(zvcert_embed_root_certificate pem output)
  if(NOT EXISTS "${pem}")
    message(FATAL_ERROR "Root certificate ${pem}: no such file")
  endif()
  file(READ "${pem}" text)
  string(REPLACE "\r" "" text "${text}")

  if(text MATCHES "PRIVATE KEY")
    message(FATAL_ERROR "Root certificate ${pem}: holds a private key. "
                        "Give the certificate alone; no key is ever built into the plug-in.")
  endif()
  string(REGEX MATCHALL "-----BEGIN [A-Z0-9 ]+-----" begins "${text}")
  list(LENGTH begins blocks)
  if(NOT blocks EQUAL 1 OR NOT begins STREQUAL "-----BEGIN CERTIFICATE-----")
    message(FATAL_ERROR "Root certificate ${pem}: holds ${blocks} PEM blocks (${begins}); "
                        "it must hold exactly one CERTIFICATE.")
  endif()
  if(NOT text MATCHES "-----BEGIN CERTIFICATE-----\n(.*)\n[ \t]*-----END CERTIFICATE-----")
    message(FATAL_ERROR "Root certificate ${pem}: no END CERTIFICATE line after the body.")
  endif()
  string(REGEX REPLACE "[ \t\n]" "" body "${CMAKE_MATCH_1}")
  string(LENGTH "${body}" length)
  math(EXPR remainder "${length} % 4")
  if(length EQUAL 0 OR NOT remainder EQUAL 0 OR NOT body MATCHES "^[A-Za-z0-9+/]+=?=?$")
    message(FATAL_ERROR "Root certificate ${pem}: the body is not Base64 text.")
  endif()
  if(length GREATER 8195)
    message(FATAL_ERROR "Root certificate ${pem}: ${length} Base64 characters; "
                        "the plug-in reads at most 8195.")
  endif()

  # An independent parser confirms it is a certificate, where one is at hand.
  find_program(ZVCERT_OPENSSL openssl)
  if(ZVCERT_OPENSSL)
    execute_process(COMMAND ${ZVCERT_OPENSSL} x509 -in "${pem}" -noout -subject -nameopt multiline
                    RESULT_VARIABLE status OUTPUT_VARIABLE subject ERROR_QUIET)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "Root certificate ${pem}: not a readable X.509 certificate.")
    endif()
    if(NOT subject MATCHES "commonName")
      # The plug-in filters by the root's common name: without one it would
      # take every certificate whose issuer has none for the authority's.
      message(FATAL_ERROR "Root certificate ${pem}: its subject has no common name; the plug-in "
                          "finds, signs with and deletes only certificates whose issuer's common "
                          "name is the root's, so the root must have one.")
    endif()
  endif()

  set(lines "\\t-----BEGIN CERTIFICATE-----")
  set(at 0)
  while(at LESS length)
    string(SUBSTRING "${body}" ${at} 64 line)
    string(APPEND lines "\\n\"\n    \"\\t${line}")
    math(EXPR at "${at} + 64")
  endwhile()
  string(APPEND lines "\\n\"\n    \"\\t-----END CERTIFICATE-----")

  set(source "// Generated from ${pem} when the plug-in was configured; do not edit.
#include \"store/root_pem.h\"

namespace zvcert {
namespace {

constexpr char kRootCertificateText[] =
    \"${lines}\";

}  // namespace

const char* rootCertificatePem = kRootCertificateText;

}  // namespace zvcert
")
  # Written only when it changes, so a reconfigure does not rebuild.
  if(EXISTS "${output}")
    file(READ "${output}" old)
  endif()
  if(NOT old STREQUAL source)
    file(WRITE "${output}" "${source}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  zvcert_embed_root_certificate("${PEM}" "${OUTPUT}")
endif()
