// Every cryptography, certificate-store and GUID call of the module goes
// through this one table, with the constants the module always passes fixed
// here. It defaults to the real Windows functions; tests replace entries to
// fail a chosen step or to count handles acquired and released.
#pragma once

// windows.h first: the others build on its types.
#include <windows.h>

#include <rpc.h>
#include <wincrypt.h>

#include "store/build_profile.h"

namespace zvcert {

// Flags the callers choose among; everything else is fixed by the entries.
inline constexpr DWORD kSubjectName = 0;                                      // name of the subject
inline constexpr DWORD kIssuerName = CERT_NAME_ISSUER_FLAG;                   // 1
inline constexpr DWORD kSubjectNameNoUtf8 = CERT_NAME_DISABLE_IE4_UTF8_FLAG;  // 0x10000
inline constexpr DWORD kKeysetOpen = CRYPT_SILENT;                            // 0x40
inline constexpr DWORD kKeysetCreate = CRYPT_SILENT | CRYPT_NEWKEYSET;        // 0x48
inline constexpr DWORD kKeysetDelete = CRYPT_SILENT | CRYPT_DELETEKEYSET;     // 0x50
inline constexpr DWORD kKeyProvInfoAreaSize = 2048;
inline constexpr DWORD kProviderNameAreaSize = 255;
inline constexpr char kCommonNameOid[] = "2.5.4.3";
// Every key container the module makes or opens by type is of this type:
// PROV_RSA_FULL (1) for SHA-1, PROV_RSA_AES (24), the type that offers SHA-2
// with RSA, otherwise, so that the stored key can sign with the build's hash.
inline constexpr DWORD kProviderType =
    kSignatureHash == SignatureHash::Sha1 ? PROV_RSA_FULL : PROV_RSA_AES;

struct PlatformServices {
  // ---- certificates (crypt32) ----
  // The current user's system store "MY"; null on failure.
  HCERTSTORE (*openPersonalStore)();
  // The next certificate after previous (null first); previous is released.
  PCCERT_CONTEXT (*enumCertificates)(HCERTSTORE store, PCCERT_CONTEXT previous);
  // One name attribute (CERT_NAME_ATTR_TYPE) of the subject or, with
  // kIssuerName, the issuer; NUL-terminated, cut to capacity characters.
  DWORD (*getNameAttribute)(PCCERT_CONTEXT cert, DWORD flags, const char* oid, char* name,
                            DWORD capacity);
  // The same as UTF-16, so that names outside the ANSI code page survive.
  DWORD (*getNameAttributeW)(PCCERT_CONTEXT cert, DWORD flags, const char* oid, wchar_t* name,
                             DWORD capacity);
  // The key-provider information property (CERT_KEY_PROV_INFO_PROP_ID).
  BOOL (*getKeyProvInfo)(PCCERT_CONTEXT cert, void* area, DWORD* size);
  BOOL (*setKeyProvInfo)(PCCERT_CONTEXT cert, const CRYPT_KEY_PROV_INFO* info);
  // Adds (replacing an existing copy) and hands back a reference to the
  // stored copy in *stored.
  BOOL (*addCertificate)(HCERTSTORE store, PCCERT_CONTEXT cert, PCCERT_CONTEXT* stored);
  // A context from DER bytes, in no store of the caller's; null on failure.
  PCCERT_CONTEXT (*createCertificate)(const BYTE* der, DWORD size);
  // Removes the certificate from its store; releases the context even on
  // failure.
  BOOL (*deleteCertificate)(PCCERT_CONTEXT cert);
  BOOL (*freeCertificate)(PCCERT_CONTEXT cert);
  // Writes pending deletions through (Wine keeps them only after a commit).
  BOOL (*commitStore)(HCERTSTORE store);
  BOOL (*closeStore)(HCERTSTORE store);

  // ---- key containers, keys, hashes (advapi32) ----
  // provider null and kProviderType, or both as recorded; flags one of
  // kKeysetOpen, kKeysetCreate, kKeysetDelete (a deletion leaves no handle).
  BOOL(*acquireContext)
  (HCRYPTPROV* prov, const char* container, const char* provider, DWORD providerType, DWORD flags);
  // PP_NAME into a kProviderNameAreaSize area; *size gets the length with NUL.
  BOOL (*getProviderName)(HCRYPTPROV prov, BYTE* name, DWORD* size);
  // The provider a kProviderType context without a provider name opens (the
  // user's default, else the machine's), into a kProviderNameAreaSize area.
  BOOL (*getDefaultProviderName)(BYTE* name, DWORD* size);
  // An exportable RSA signature key (CALG_RSA_SIGN) of the build's size.
  BOOL (*generateSignatureKey)(HCRYPTPROV prov, HCRYPTKEY* key);
  // PUBLICKEYBLOB or PRIVATEKEYBLOB, no export key, flags 0.
  BOOL (*exportKey)(HCRYPTKEY key, DWORD blobType, BYTE* blob, DWORD* size);
  // A PRIVATEKEYBLOB kept in the container, not exportable.
  BOOL (*importPrivateKey)(HCRYPTPROV prov, const BYTE* blob, DWORD size, HCRYPTKEY* key);
  // A hash of the build's algorithm (CALG_SHA1, or CALG_SHA_256/384/512).
  BOOL (*createHash)(HCRYPTPROV prov, HCRYPTHASH* hash);
  BOOL (*hashData)(HCRYPTHASH hash, const BYTE* data, DWORD size);
  // PKCS #1 v1.5 with the AT_SIGNATURE key, least significant byte first.
  BOOL (*signHash)(HCRYPTHASH hash, BYTE* signature, DWORD* size);
  BOOL (*destroyHash)(HCRYPTHASH hash);
  BOOL (*destroyKey)(HCRYPTKEY key);
  BOOL (*releaseContext)(HCRYPTPROV prov);

  // ---- GUIDs (rpcrt4) ----
  RPC_STATUS (*createUuid)(UUID* uuid);
  RPC_STATUS (*uuidToString)(const UUID* uuid, RPC_CSTR* text);
  RPC_STATUS (*freeRpcString)(RPC_CSTR* text);
};

// The real functions.
PlatformServices RealPlatform();

// The services in force: RealPlatform() until a test replaces entries.
extern PlatformServices platform;

}  // namespace zvcert
