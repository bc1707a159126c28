# The key size, the hash of requests and signatures, the serial length and
# how lookups know the authority's certificates, as an authority builds the
# plug-in. The defaults are the original profile; today's authorities want at
# least 2048-bit keys, SHA-2, 20-byte serials and the root's signature checked.
#
# As a script, it only checks values:
#   cmake -DZVCERT_KEY_BITS=2048 -DZVCERT_SIGNATURE_HASH=SHA256 -DZVCERT_SERIAL_BYTES=20 -P BuildProfile.cmake

cmake_policy(SET CMP0057 NEW)  # IN_LIST, also when run as a script
cmake_policy(SET CMP0054 NEW)  # a quoted value is never read as a variable name

function(zvcert_check_choice name allowed)
  if(NOT "${${name}}" IN_LIST allowed)
    string(REPLACE ";" ", " choices "${allowed}")
    message(FATAL_ERROR "${name} is \"${${name}}\"; it must be one of ${choices}.")
  endif()
endfunction()

function(zvcert_check_range name low high)
  set(value "${${name}}")
  if(NOT value MATCHES "^[1-9][0-9]*$" OR value LESS ${low} OR value GREATER ${high})
    message(FATAL_ERROR "${name} is \"${value}\"; it must be a whole number from ${low} to ${high}.")
  endif()
endfunction()

macro(zvcert_check_profile)
  zvcert_check_choice(ZVCERT_KEY_BITS "1024;2048;3072;4096")
  zvcert_check_choice(ZVCERT_SIGNATURE_HASH "SHA1;SHA256;SHA384;SHA512")
  zvcert_check_choice(ZVCERT_SERIAL_BYTES "8;16;20")
  zvcert_check_choice(ZVCERT_AUTHORITY_CHECK "name;signature")
  zvcert_check_choice(ZVCERT_PENDING_KEYS "memory;store")
  zvcert_check_range(ZVCERT_PENDING_DAYS 1 3650)
  zvcert_check_range(ZVCERT_PENDING_LIMIT 1 64)
endmacro()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  # What is not given is the default.
  foreach(pair KEY_BITS=1024 SIGNATURE_HASH=SHA1 SERIAL_BYTES=8 AUTHORITY_CHECK=name
               PENDING_KEYS=memory PENDING_DAYS=30 PENDING_LIMIT=8)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 default)
    if(NOT DEFINED ZVCERT_${name})
      set(ZVCERT_${name} ${default})
    endif()
  endforeach()
  zvcert_check_profile()
  return()
endif()

set(ZVCERT_KEY_BITS 1024 CACHE STRING "RSA key size of new requests: 1024, 2048, 3072 or 4096")
set(ZVCERT_SIGNATURE_HASH SHA1 CACHE STRING
    "Hash of requests and CertSign signatures: SHA1, SHA256, SHA384 or SHA512")
set(ZVCERT_SERIAL_BYTES 8 CACHE STRING "Longest certificate serial number in bytes: 8, 16 or 20")
set(ZVCERT_AUTHORITY_CHECK name CACHE STRING
    "How FindCert, IsCertExist, DelCert and CertSign know the authority's certificates: name (the issuer's common name) or signature (also the root's signature)")
set(ZVCERT_PENDING_KEYS memory CACHE STRING
    "Where GetCSR keeps a request's key until ImportCert: memory (the page's object) or store (a key container of the user's, the request recorded in the REQUEST store)")
set(ZVCERT_PENDING_DAYS 30 CACHE STRING
    "With ZVCERT_PENDING_KEYS=store: days after which a pending request is deleted with its key")
set(ZVCERT_PENDING_LIMIT 8 CACHE STRING
    "With ZVCERT_PENDING_KEYS=store: most pending requests kept, the oldest deleted first")
set_property(CACHE ZVCERT_KEY_BITS PROPERTY STRINGS 1024 2048 3072 4096)
set_property(CACHE ZVCERT_SIGNATURE_HASH PROPERTY STRINGS SHA1 SHA256 SHA384 SHA512)
set_property(CACHE ZVCERT_SERIAL_BYTES PROPERTY STRINGS 8 16 20)
set_property(CACHE ZVCERT_AUTHORITY_CHECK PROPERTY STRINGS name signature)
set_property(CACHE ZVCERT_PENDING_KEYS PROPERTY STRINGS memory store)
zvcert_check_profile()

string(REPLACE "SHA" "" ZVCERT_SIGNATURE_HASH_BITS "${ZVCERT_SIGNATURE_HASH}")
if(ZVCERT_AUTHORITY_CHECK STREQUAL "signature")
  set(ZVCERT_AUTHORITY_SIGNATURE 1)
else()
  set(ZVCERT_AUTHORITY_SIGNATURE 0)
endif()
target_compile_definitions(zvcert_options INTERFACE
  ZVCERT_KEY_BITS=${ZVCERT_KEY_BITS}
  ZVCERT_SIGNATURE_HASH_BITS=${ZVCERT_SIGNATURE_HASH_BITS}
  ZVCERT_SERIAL_BYTES=${ZVCERT_SERIAL_BYTES}
  ZVCERT_AUTHORITY_SIGNATURE=${ZVCERT_AUTHORITY_SIGNATURE}
  ZVCERT_PENDING_IN_STORE=$<STREQUAL:${ZVCERT_PENDING_KEYS},store>
  ZVCERT_PENDING_DAYS=${ZVCERT_PENDING_DAYS}
  ZVCERT_PENDING_LIMIT=${ZVCERT_PENDING_LIMIT})
message(STATUS "Profile: RSA-${ZVCERT_KEY_BITS}, ${ZVCERT_SIGNATURE_HASH}, "
               "serials of up to ${ZVCERT_SERIAL_BYTES} bytes, the authority known by its ${ZVCERT_AUTHORITY_CHECK}, "
               "pending keys in ${ZVCERT_PENDING_KEYS}")
