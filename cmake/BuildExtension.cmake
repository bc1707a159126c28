# The browser extension for the authority's pages: which origins may use it
# is fixed when the CA builds it, like the root certificate. Stops with the
# reason when an origin is refused (https only; http just for 127.0.0.1 and
# localhost; in a release build https only, and never this machine), and
# when its identity (host name, key, ids) is unusable or, in a release build,
# the development one committed with the sources. Also runs on its own:
#   cmake -DORIGINS="https://ca.example.com" -DOUT=<dir> [-DVERSION=1.0] [-DCONSENT_TIMEOUT=60]
#         [-DIDENTITY=identity.json] [-DRELEASE=ON] [-DSIGN_TEXT_ONLY=ON] -P cmake/BuildExtension.cmake

# The default: the sample page on this machine.
set(ZVCERT_DEVELOPMENT_ORIGINS "http://127.0.0.1:8765;http://localhost:8765")

# The committed identity, for development.
get_filename_component(ZVCERT_DEVELOPMENT_IDENTITY ${CMAKE_CURRENT_LIST_DIR}/../extension/identity.json
                       ABSOLUTE)

function(zvcert_build_extension origins out version consent_timeout identity release text_only)
  set(release_flag)
  if(release)
    if(origins STREQUAL "" OR origins STREQUAL ZVCERT_DEVELOPMENT_ORIGINS)
      message(FATAL_ERROR "ZVCERT_RELEASE is ON but ZVCERT_EXTENSION_ORIGINS is not set: a release "
                          "build names the authority's https origins, e.g. "
                          "-DZVCERT_EXTENSION_ORIGINS=https://ca.example.com")
    endif()
    set(release_flag --release)
  endif()
  set(text_only_flag)
  if(text_only)
    set(text_only_flag --sign-text-only)
  endif()
  find_program(ZVCERT_NODE node)
  if(NOT ZVCERT_NODE)
    message(FATAL_ERROR "node is needed to build the browser extension (scripts/setup.sh installs nodejs)")
  endif()
  execute_process(
    COMMAND ${ZVCERT_NODE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../extension/identity.js
            --check ${identity} ${release_flag}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "ZVCERT_EXTENSION_IDENTITY: ${identity}: ${error}")
  endif()
  string(REPLACE ";" "," origin_list "${origins}")
  execute_process(
    COMMAND ${ZVCERT_NODE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../extension/build.js
            --out ${out} --origins "${origin_list}" --version ${version}
            --consent-timeout ${consent_timeout} --identity ${identity} ${release_flag} ${text_only_flag}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "ZVCERT_EXTENSION_ORIGINS: ${error}")
  endif()
endfunction()

# The page library's package (web/) for the authority: the address where its
# users download the setup and the extension goes into it; a release build
# must give one, over https.
function(zvcert_build_page_library out download_url release)
  set(release_flag)
  if(release)
    set(release_flag --release)
  endif()
  find_program(ZVCERT_NODE node)
  execute_process(
    COMMAND ${ZVCERT_NODE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../web/build.js
            --out ${out} --download-url "${download_url}" ${release_flag}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "ZVCERT_DOWNLOAD_URL: ${error}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED VERSION)
    set(VERSION 1.0.0)
  endif()
  if(NOT DEFINED CONSENT_TIMEOUT)
    set(CONSENT_TIMEOUT 60)
  endif()
  if(NOT DEFINED IDENTITY)
    set(IDENTITY ${ZVCERT_DEVELOPMENT_IDENTITY})
  endif()
  zvcert_build_extension("${ORIGINS}" "${OUT}" "${VERSION}" "${CONSENT_TIMEOUT}" "${IDENTITY}"
                         "${RELEASE}"
                         "${SIGN_TEXT_ONLY}")
endif()

# The origins the plug-in's lock serves. A release build is never open to
# every page: without ZVCERT_PAGE_ORIGINS it serves the extension's origins.
function(zvcert_locked_page_origins page_origins extension_origins release out_var)
  set(origins "${page_origins}")
  # A list of blanks and separators names no page: in a release it would
  # leave the plug-in open to every one.
  string(REGEX REPLACE "[ \t\r\n,;]" "" bare "${page_origins}")
  if(release AND NOT page_origins STREQUAL "" AND bare STREQUAL "")
    message(FATAL_ERROR "ZVCERT_PAGE_ORIGINS='${page_origins}' holds no origin: a release "
                        "would serve every page. Name the authority's https origins, or leave it "
                        "unset to serve the extension's")
  endif()
  if(release AND origins STREQUAL "")
    if(extension_origins STREQUAL "" OR extension_origins STREQUAL ZVCERT_DEVELOPMENT_ORIGINS)
      message(FATAL_ERROR "ZVCERT_RELEASE is ON but neither ZVCERT_PAGE_ORIGINS nor "
                          "ZVCERT_EXTENSION_ORIGINS is set: the plug-in would serve every page. "
                          "Name the authority's https origins, e.g. "
                          "-DZVCERT_EXTENSION_ORIGINS=https://ca.example.com")
    endif()
    set(origins "${extension_origins}")
    message(STATUS "ZVCERT_PAGE_ORIGINS is not set: the plug-in serves the pages of "
                   "ZVCERT_EXTENSION_ORIGINS only (${extension_origins})")
  endif()
  set(${out_var} "${origins}" PARENT_SCOPE)
endfunction()

# The plug-in's own lock of its certificate methods to the authority's pages
# (ZVCERT_PAGE_ORIGINS): the origins, checked by the extension's rules, are
# written into a source file; none, the default, lets every page.
function(zvcert_embed_page_origins origins release output)
  find_program(ZVCERT_NODE node)
  set(lines)
  if(NOT origins STREQUAL "")
    set(release_flag)
    if(release)
      set(release_flag --release)
    endif()
    string(REPLACE ";" "," origin_list "${origins}")
    execute_process(
      COMMAND ${ZVCERT_NODE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../extension/build.js
              --check-origins "${origin_list}" ${release_flag}
      RESULT_VARIABLE status OUTPUT_VARIABLE checked ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
      string(STRIP "${error}" error)
      message(FATAL_ERROR "ZVCERT_PAGE_ORIGINS: ${error}")
    endif()
    string(STRIP "${checked}" checked)
    string(REPLACE "\n" ";" checked "${checked}")
    foreach(origin IN LISTS checked)
      string(APPEND lines "    \"${origin}\",\n")
    endforeach()
  endif()
  if("${lines}" STREQUAL "")
    # Whatever reached this point, a release is never built unlocked.
    if(release)
      message(FATAL_ERROR "ZVCERT_RELEASE is ON but the plug-in's page lock holds no origin")
    endif()
    set(definition "bool (*pageOriginCheck)(NPP) = nullptr;\n")
  else()
    string(CONCAT definition "namespace {\nconst std::string_view kOrigins[] = {\n${lines}};\n"
                  "bool Allowed(NPP npp) { return PageOriginAllowed(npp, kOrigins); }\n"
                  "}  // namespace\nbool (*pageOriginCheck)(NPP) = Allowed;\n")
  endif()
  string(CONCAT text "// Generated from ZVCERT_PAGE_ORIGINS.\n#include \"script/page_origin.h\"\n\n"
                "namespace zvcert {\n${definition}}  // namespace zvcert\n")
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" @ONLY)
endfunction()
