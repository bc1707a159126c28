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
# A configured tree has them in two files made from the table below:
# <build>/generated/build_profile_options.h for the C++ (KEY_BITS as kKeyBits,
# AUTHORITY_CHECK as kAuthorityCheck of enum AuthorityCheck { Name, Signature })
# and <build>/profile.json for the scripts and tests.
#
# As a script, it checks the values and says what they come to:
#   cmake -DZVCERT_PROFILE=current -DZVCERT_SERIAL_BYTES=16 -P BuildProfile.cmake

cmake_policy(SET CMP0057 NEW)  # IN_LIST, also when run as a script
cmake_policy(SET CMP0054 NEW)  # a quoted value is never read as a variable name

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
set(zvcert_profiles original current)
if(NOT ZVCERT_PROFILE IN_LIST zvcert_profiles)
  message(FATAL_ERROR "ZVCERT_PROFILE is \"${ZVCERT_PROFILE}\"; it must be one of original, current.")
endif()

# ZVCERT_<name> takes the profile's value unless it is given (see the top),
# and must be one of its CHOICES or a whole number in its RANGE. The names
# collect in zvcert_profile_options, those given in zvcert_given; an option's
# words, where it chooses words rather than numbers, in zvcert_words_<name>.
set(zvcert_profile_options "")
set(zvcert_given "")
function(zvcert_profile_option name original current)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "DOC" "CHOICES;RANGE")
  set(option ZVCERT_${name})
  set(from_profile ${option}_FROM_PROFILE)
  set(value ${${ZVCERT_PROFILE}})  # the argument named for the profile
  set(given OFF)
  if(zvcert_as_script)
    if(DEFINED ${option})
      set(value "${${option}}")
      set(given ON)
    endif()
  elseif(NOT DEFINED CACHE{${option}} OR
         (DEFINED CACHE{${from_profile}} AND "$CACHE{${option}}" STREQUAL "$CACHE{${from_profile}}"))
    set(${option} ${value} CACHE STRING "${arg_DOC}" FORCE)
    set(${from_profile} ${value} CACHE INTERNAL "")
  else()
    set(value "$CACHE{${option}}")
    set(${option} "${value}" CACHE STRING "${arg_DOC}")  # a -D without a type gets one
    unset(${from_profile} CACHE)
    set(given ON)
  endif()

  if(arg_RANGE)
    list(GET arg_RANGE 0 low)
    list(GET arg_RANGE 1 high)
    if(NOT value MATCHES "^[1-9][0-9]*$" OR value LESS low OR value GREATER high)
      message(FATAL_ERROR "${option} is \"${value}\"; it must be a whole number from ${low} to ${high}.")
    endif()
  elseif(NOT value IN_LIST arg_CHOICES)
    string(REPLACE ";" ", " choices "${arg_CHOICES}")
    message(FATAL_ERROR "${option} is \"${value}\"; it must be one of ${choices}.")
  elseif(NOT zvcert_as_script)
    set_property(CACHE ${option} PROPERTY STRINGS ${arg_CHOICES})
  endif()
  if(NOT arg_CHOICES MATCHES "^[0-9;]*$")
    set(zvcert_words_${name} ${arg_CHOICES} PARENT_SCOPE)
  endif()
  set(zvcert_doc_${name} "${arg_DOC}" PARENT_SCOPE)
  set(zvcert_profile_options ${zvcert_profile_options} ${name} PARENT_SCOPE)
  set(${option} "${value}" PARENT_SCOPE)
  if(given)
    set(zvcert_given ${zvcert_given} ${option} PARENT_SCOPE)
  endif()
endfunction()

#                     option           original current
zvcert_profile_option(KEY_BITS         1024     2048      CHOICES 1024 2048 3072 4096
    DOC "RSA key size of new requests: 1024, 2048, 3072 or 4096")
zvcert_profile_option(SIGNATURE_HASH   SHA1     SHA256    CHOICES SHA1 SHA256 SHA384 SHA512
    DOC "Hash of requests and CertSign signatures: SHA1, SHA256, SHA384 or SHA512")
zvcert_profile_option(SERIAL_BYTES     8        20        CHOICES 8 16 20
    DOC "Longest certificate serial number in bytes: 8, 16 or 20")
zvcert_profile_option(AUTHORITY_CHECK  name     signature CHOICES name signature
    DOC "How FindCert, IsCertExist, DelCert and CertSign know the authority's certificates: name (the issuer's common name) or signature (also the root's signature)")
zvcert_profile_option(PENDING_KEYS     memory   store     CHOICES memory store
    DOC "Where GetCSR keeps a request's key until ImportCert: memory (the page's object) or store (a key container of the user's, the request recorded in the REQUEST store)")
zvcert_profile_option(PENDING_DAYS     30       30        RANGE 1 3650
    DOC "With ZVCERT_PENDING_KEYS=store: days after which a pending request is deleted with its key")
zvcert_profile_option(PENDING_LIMIT    8        8         RANGE 1 64
    DOC "With ZVCERT_PENDING_KEYS=store: most pending requests kept, the oldest deleted first")

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

# A name or word as the C++ spells it: KEY_BITS as KeyBits, SHA256 as Sha256.
function(zvcert_cpp_name name out)
  string(REPLACE "_" ";" words "${name}")
  set(joined "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(TOLOWER "${rest}" rest)
    string(APPEND joined "${first}${rest}")
  endforeach()
  set(${out} ${joined} PARENT_SCOPE)
endfunction()

string(CONCAT zvcert_header "// Made by cmake/BuildProfile.cmake: the profile ${zvcert_profile_name}.\n"
                            "#pragma once\n\n#include <cstdint>\n\nnamespace zvcert {\n")
foreach(name IN LISTS zvcert_profile_options)
  zvcert_cpp_name(${name} type)
  string(APPEND zvcert_header "\n// ${zvcert_doc_${name}}\n")
  if(NOT zvcert_words_${name})
    string(APPEND zvcert_header "inline constexpr uint32_t k${type} = ${ZVCERT_${name}};\n")
    continue()
  endif()
  set(members "")
  foreach(word IN LISTS zvcert_words_${name})
    zvcert_cpp_name(${word} member)
    list(APPEND members ${member})
  endforeach()
  string(REPLACE ";" ", " members "${members}")
  zvcert_cpp_name(${ZVCERT_${name}} chosen)
  string(APPEND zvcert_header "enum class ${type} { ${members} };\n"
                              "inline constexpr ${type} k${type} = ${type}::${chosen};\n")
endforeach()
string(APPEND zvcert_header "\n}  // namespace zvcert\n")
# Written only when it changes, so that configuring again rebuilds nothing.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/build_profile_options.h
     CONTENT "${zvcert_header}" @ONLY)
target_include_directories(zvcert_options INTERFACE ${CMAKE_BINARY_DIR}/generated)

# Sets key to the text in the JSON object json.
function(zvcert_json_text key text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(JSON json SET "${json}" ${key} "\"${text}\"")
  set(json "${json}" PARENT_SCOPE)
endfunction()

# <file>: one flat JSON object, what the scripts and tests know of a build.
# The profile's name (profile) and each option under its name in camel case
# (KEY_BITS as keyBits; numbers as numbers, words as text), then the TEXT and
# FLAG pairs given (key, value), as text and as true or false.
function(zvcert_write_profile_json file)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "TEXT;FLAG")
  set(json "{}")
  zvcert_json_text(profile "${ZVCERT_PROFILE}")
  foreach(name IN LISTS zvcert_profile_options)
    zvcert_cpp_name(${name} key)
    string(SUBSTRING ${key} 0 1 first)
    string(SUBSTRING ${key} 1 -1 rest)
    string(TOLOWER ${first} first)
    set(key ${first}${rest})
    if(zvcert_words_${name})
      zvcert_json_text(${key} "${ZVCERT_${name}}")
    else()
      string(JSON json SET "${json}" ${key} "${ZVCERT_${name}}")
    endif()
  endforeach()
  while(arg_TEXT)
    list(POP_FRONT arg_TEXT key text)
    zvcert_json_text(${key} "${text}")
  endwhile()
  while(arg_FLAG)
    list(POP_FRONT arg_FLAG key flag)
    set(value false)
    if(flag)
      set(value true)
    endif()
    string(JSON json SET "${json}" ${key} ${value})
  endwhile()
  file(CONFIGURE OUTPUT ${file} CONTENT "${json}\n" @ONLY)
endfunction()
