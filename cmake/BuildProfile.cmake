# The key size, the hash of requests and signatures, the serial length, how
# lookups know the authority's certificates and where a request's key waits,
# as an authority builds the plug-in. ZVCERT_PROFILE names a whole set:
# original (the default, the plug-in as it first shipped) or current (what
# today's authorities want: 2048-bit keys, SHA-2, 20-byte serials, the root's
# signature checked, keys pending in the store). An option given on its own
# overrides the profile's value:
#   cmake -DZVCERT_PROFILE=current -DZVCERT_KEY_BITS=4096 ...
#
# Configured again with another profile, a tree takes the new profile's
# values for every option it did not get explicitly. An option counts as
# given when it was set before the profile first filled it in, or since
# changed to anything other than what the profile last put there (on the
# command line, in ccmake); it then stays the user's until -UZVCERT_<OPTION>
# hands it back to the profile. Each filled-in value is remembered in an
# internal ZVCERT_<OPTION>_FROM_PROFILE entry for that comparison.
#
# As a script, it checks the values and says what they come to:
#   cmake -DZVCERT_PROFILE=current -DZVCERT_SERIAL_BYTES=16 -P BuildProfile.cmake

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

set(zvcert_as_script OFF)
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(zvcert_as_script ON)
  if(NOT DEFINED ZVCERT_PROFILE)
    set(ZVCERT_PROFILE original)
  endif()
else()
  set(ZVCERT_PROFILE original CACHE STRING
      "The options' values unless given: original (1024, SHA1, 8, name, memory) or current (2048, SHA256, 20, signature, store)")
  set_property(CACHE ZVCERT_PROFILE PROPERTY STRINGS original current)
endif()
zvcert_check_choice(ZVCERT_PROFILE "original;current")

# ZVCERT_<name> takes the profile's value unless it is given (see the top).
# The names of the options given collect in zvcert_given.
set(zvcert_given "")
function(zvcert_profile_option name original current doc)
  set(option ZVCERT_${name})
  set(value ${${ZVCERT_PROFILE}})  # the argument named for the profile
  set(from_profile ${option}_FROM_PROFILE)
  if(zvcert_as_script)
    if(NOT DEFINED ${option})
      set(${option} ${value} PARENT_SCOPE)
      return()
    endif()
  elseif(NOT DEFINED CACHE{${option}} OR
         (DEFINED CACHE{${from_profile}} AND "$CACHE{${option}}" STREQUAL "$CACHE{${from_profile}}"))
    set(${option} ${value} CACHE STRING "${doc}" FORCE)
    set(${from_profile} ${value} CACHE INTERNAL "")
    return()
  else()
    set(${option} "$CACHE{${option}}" CACHE STRING "${doc}")  # a -D without a type gets one
    unset(${from_profile} CACHE)
  endif()
  set(zvcert_given ${zvcert_given} ${option} PARENT_SCOPE)
endfunction()

#                     option           original current
zvcert_profile_option(KEY_BITS         1024     2048
    "RSA key size of new requests: 1024, 2048, 3072 or 4096")
zvcert_profile_option(SIGNATURE_HASH   SHA1     SHA256
    "Hash of requests and CertSign signatures: SHA1, SHA256, SHA384 or SHA512")
zvcert_profile_option(SERIAL_BYTES     8        20
    "Longest certificate serial number in bytes: 8, 16 or 20")
zvcert_profile_option(AUTHORITY_CHECK  name     signature
    "How FindCert, IsCertExist, DelCert and CertSign know the authority's certificates: name (the issuer's common name) or signature (also the root's signature)")
zvcert_profile_option(PENDING_KEYS     memory   store
    "Where GetCSR keeps a request's key until ImportCert: memory (the page's object) or store (a key container of the user's, the request recorded in the REQUEST store)")
zvcert_profile_option(PENDING_DAYS     30       30
    "With ZVCERT_PENDING_KEYS=store: days after which a pending request is deleted with its key")
zvcert_profile_option(PENDING_LIMIT    8        8
    "With ZVCERT_PENDING_KEYS=store: most pending requests kept, the oldest deleted first")

zvcert_check_choice(ZVCERT_KEY_BITS "1024;2048;3072;4096")
zvcert_check_choice(ZVCERT_SIGNATURE_HASH "SHA1;SHA256;SHA384;SHA512")
zvcert_check_choice(ZVCERT_SERIAL_BYTES "8;16;20")
zvcert_check_choice(ZVCERT_AUTHORITY_CHECK "name;signature")
zvcert_check_choice(ZVCERT_PENDING_KEYS "memory;store")
zvcert_check_range(ZVCERT_PENDING_DAYS 1 3650)
zvcert_check_range(ZVCERT_PENDING_LIMIT 1 64)

set(zvcert_profile_name "${ZVCERT_PROFILE}")
if(zvcert_given)
  string(REPLACE ";" ", " zvcert_given "${zvcert_given}")
  string(APPEND zvcert_profile_name " with ${zvcert_given} given")
endif()
message(STATUS "Profile ${zvcert_profile_name}: RSA-${ZVCERT_KEY_BITS}, ${ZVCERT_SIGNATURE_HASH}, "
               "serials of up to ${ZVCERT_SERIAL_BYTES} bytes, the authority known by its ${ZVCERT_AUTHORITY_CHECK}, "
               "pending keys in ${ZVCERT_PENDING_KEYS}")
if(zvcert_as_script)
  return()
endif()

set_property(CACHE ZVCERT_KEY_BITS PROPERTY STRINGS 1024 2048 3072 4096)
set_property(CACHE ZVCERT_SIGNATURE_HASH PROPERTY STRINGS SHA1 SHA256 SHA384 SHA512)
set_property(CACHE ZVCERT_SERIAL_BYTES PROPERTY STRINGS 8 16 20)
set_property(CACHE ZVCERT_AUTHORITY_CHECK PROPERTY STRINGS name signature)
set_property(CACHE ZVCERT_PENDING_KEYS PROPERTY STRINGS memory store)

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
