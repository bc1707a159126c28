# npzvcert-host for Linux: the members answered in the host itself, by the
# plug-in's member code over a PKCS #11 token, speaking the Windows host's
# protocol.
zvcert_layer(tokenhost USES host script token request store encoding npapi
  LINUX direct_members.cpp host_certificates.cpp)
add_executable(npzvcert-host tokenhost/host_main.cpp ${CMAKE_CURRENT_BINARY_DIR}/root_certificate.cpp)
target_link_libraries(npzvcert-host PRIVATE zvcert_tokenhost)
target_compile_options(npzvcert-host PRIVATE -fno-exceptions)
target_compile_definitions(npzvcert-host PRIVATE ZVCERT_SIGN_TEXT_ONLY=$<BOOL:${ZVCERT_SIGN_TEXT_ONLY}>)
