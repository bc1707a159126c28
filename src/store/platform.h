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
inline constexpr DWORD kDetachedMessage = CMSG_DETACHED_FLAG;  // 4: the content left out
// Every key container the module makes or opens by type is of this type:
// PROV_RSA_FULL (1) for SHA-1, PROV_RSA_AES (24), the type that offers SHA-2
// with RSA, otherwise, so that the stored key can sign with the build's hash.
inline constexpr DWORD kProviderType =
    kSignatureHash == SignatureHash::Sha1 ? PROV_RSA_FULL : PROV_RSA_AES;

// Every entry once: X(name, result, (parameters), real function). The table
// below, the real table and the tests' ledger all follow from this list. The
// real function is Forward<Api> where the entry passes its arguments through
// to one Windows function unchanged, else a small adapter in platform.cpp.
// Laid out by hand: clang-format spaces pointer parameters inside macro
// arguments as if they were products (BYTE * name).
// clang-format off
#define ZVCERT_PLATFORM_ENTRIES(X)                                                           \
  /* ---- certificates (crypt32) ---- */                                                     \
  /* The current user's system store "MY"; null on failure. */                               \
  X(openPersonalStore, HCERTSTORE, (), OpenPersonalStore)                                    \
  /* The current user's system store "REQUEST", where pending requests are kept. */         \
  X(openRequestStore, HCERTSTORE, (), OpenRequestStore)                                      \
  /* The next certificate after previous (null first); previous is released. */              \
  X(enumCertificates, PCCERT_CONTEXT, (HCERTSTORE store, PCCERT_CONTEXT previous),           \
    Forward<CertEnumCertificatesInStore>)                                                    \
  /* The next certificate after previous (null first) whose public key is key; previous */  \
  /* is released. */                                                                         \
  X(findByPublicKey, PCCERT_CONTEXT,                                                         \
    (HCERTSTORE store, const CERT_PUBLIC_KEY_INFO* key, PCCERT_CONTEXT previous),            \
    FindByPublicKey)                                                                         \
  /* Another reference to the same context, released on its own. */                         \
  X(duplicateCertificate, PCCERT_CONTEXT, (PCCERT_CONTEXT cert),                             \
    Forward<CertDuplicateCertificateContext>)                                                \
  /* One name attribute (CERT_NAME_ATTR_TYPE) of the subject or, with kIssuerName, the */    \
  /* issuer; NUL-terminated, cut to capacity characters. */                                  \
  X(getNameAttribute, DWORD,                                                                 \
    (PCCERT_CONTEXT cert, DWORD flags, const char* oid, char* name, DWORD capacity),         \
    GetNameAttribute)                                                                        \
  /* The same as UTF-16, so that names outside the ANSI code page survive. */                \
  X(getNameAttributeW, DWORD,                                                                \
    (PCCERT_CONTEXT cert, DWORD flags, const char* oid, wchar_t* name, DWORD capacity),      \
    GetNameAttributeW)                                                                       \
  /* The key-provider information property (CERT_KEY_PROV_INFO_PROP_ID). */                  \
  X(getKeyProvInfo, BOOL, (PCCERT_CONTEXT cert, void* area, DWORD* size), GetKeyProvInfo)    \
  X(setKeyProvInfo, BOOL, (PCCERT_CONTEXT cert, const CRYPT_KEY_PROV_INFO* info),            \
    SetKeyProvInfo)                                                                          \
  /* Adds (replacing an existing copy) and hands back a reference to the stored copy */      \
  /* in *stored. */                                                                          \
  X(addCertificate, BOOL, (HCERTSTORE store, PCCERT_CONTEXT cert, PCCERT_CONTEXT* stored),   \
    AddCertificate)                                                                          \
  /* A context from DER bytes, in no store of the caller's; null on failure. */              \
  X(createCertificate, PCCERT_CONTEXT, (const BYTE* der, DWORD size), CreateCertificate)     \
  /* A certificate of the AT_SIGNATURE key of prov, signed by it, valid from now, naming */  \
  /* subject and carrying info as its key-provider information; in no store. */              \
  X(createSelfSigned, PCCERT_CONTEXT,                                                        \
    (HCRYPTPROV prov, const CERT_NAME_BLOB* subject, const CRYPT_KEY_PROV_INFO* info),       \
    CreateSelfSigned)                                                                        \
  /* Removes the certificate from its store; releases the context even on failure. */        \
  X(deleteCertificate, BOOL, (PCCERT_CONTEXT cert), Forward<CertDeleteCertificateFromStore>) \
  X(freeCertificate, BOOL, (PCCERT_CONTEXT cert), Forward<CertFreeCertificateContext>)       \
  /* Writes pending deletions through (Wine keeps them only after a commit). */              \
  X(commitStore, BOOL, (HCERTSTORE store), CommitStore)                                      \
  X(closeStore, BOOL, (HCERTSTORE store), CloseStore)                                        \
  /* Whether cert's signature verifies with the public key of issuer. */                     \
  X(verifyIssuedBy, BOOL, (PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer), VerifyIssuedBy)      \
                                                                                             \
  /* ---- key containers, keys, hashes (advapi32) ---- */                                    \
  /* provider null and kProviderType, or both as recorded; flags one of kKeysetOpen, */      \
  /* kKeysetCreate, kKeysetDelete (a deletion leaves no handle). */                          \
  X(acquireContext, BOOL,                                                                    \
    (HCRYPTPROV* prov, const char* container, const char* provider, DWORD providerType,      \
     DWORD flags),                                                                           \
    Forward<CryptAcquireContextA>)                                                           \
  /* PP_NAME into a kProviderNameAreaSize area; *size gets the length with NUL. */           \
  X(getProviderName, BOOL, (HCRYPTPROV prov, BYTE* name, DWORD* size), GetProviderName)      \
  /* The provider a kProviderType context without a provider name opens (the user's */       \
  /* default, else the machine's), into a kProviderNameAreaSize area. */                     \
  X(getDefaultProviderName, BOOL, (BYTE* name, DWORD* size), GetDefaultProviderName)         \
  /* An exportable RSA signature key (CALG_RSA_SIGN) of the build's size. */                 \
  X(generateSignatureKey, BOOL, (HCRYPTPROV prov, HCRYPTKEY* key), GenerateSignatureKey)     \
  /* The same, but the private key never leaves the container (not exportable). */          \
  X(generateKeptSignatureKey, BOOL, (HCRYPTPROV prov, HCRYPTKEY* key),                       \
    GenerateKeptSignatureKey)                                                                \
  /* PUBLICKEYBLOB or PRIVATEKEYBLOB, no export key, flags 0. */                             \
  X(exportKey, BOOL, (HCRYPTKEY key, DWORD blobType, BYTE* blob, DWORD* size), ExportKey)    \
  /* A PRIVATEKEYBLOB kept in the container, not exportable. */                              \
  X(importPrivateKey, BOOL, (HCRYPTPROV prov, const BYTE* blob, DWORD size, HCRYPTKEY* key), \
    ImportPrivateKey)                                                                        \
  /* A hash of the build's algorithm (CALG_SHA1, or CALG_SHA_256/384/512). */                \
  X(createHash, BOOL, (HCRYPTPROV prov, HCRYPTHASH* hash), CreateHash)                       \
  X(hashData, BOOL, (HCRYPTHASH hash, const BYTE* data, DWORD size), HashData)               \
  /* PKCS #1 v1.5 with the AT_SIGNATURE key, least significant byte first. */                \
  X(signHash, BOOL, (HCRYPTHASH hash, BYTE* signature, DWORD* size), SignHash)               \
  X(destroyHash, BOOL, (HCRYPTHASH hash), Forward<CryptDestroyHash>)                         \
  X(destroyKey, BOOL, (HCRYPTKEY key), Forward<CryptDestroyKey>)                             \
  X(releaseContext, BOOL, (HCRYPTPROV prov), ReleaseContext)                                 \
                                                                                             \
  /* ---- signed messages (crypt32) ---- */                                                  \
  /* A SignedData to encode: the build's hash, the AT_SIGNATURE key of prov, the signer */   \
  /* named by issuer and serial and its certificate included; flags 0 or */                  \
  /* kDetachedMessage. prov must outlive the message. Null on failure. */                    \
  X(openSignedMessage, HCRYPTMSG, (PCCERT_CONTEXT signer, HCRYPTPROV prov, DWORD flags),     \
    OpenSignedMessage)                                                                       \
  /* All of the content at once (the final update), which signs it. */                       \
  X(updateMessage, BOOL, (HCRYPTMSG msg, const BYTE* data, DWORD size), UpdateMessage)       \
  /* The encoded ContentInfo (CMSG_CONTENT_PARAM); content null asks for the size. */        \
  X(getMessageContent, BOOL, (HCRYPTMSG msg, BYTE* content, DWORD* size), GetMessageContent) \
  X(closeMessage, BOOL, (HCRYPTMSG msg), Forward<CryptMsgClose>)                             \
                                                                                             \
  /* ---- GUIDs (rpcrt4) ---- */                                                             \
  X(createUuid, RPC_STATUS, (UUID* uuid), Forward<UuidCreate>)                               \
  X(uuidToString, RPC_STATUS, (const UUID* uuid, RPC_CSTR* text), UuidToText)                \
  X(freeRpcString, RPC_STATUS, (RPC_CSTR* text), Forward<RpcStringFreeA>)
// clang-format on

struct PlatformServices {
#define ZVCERT_PLATFORM_MEMBER(name, result, parameters, real) result(*name) parameters;
  ZVCERT_PLATFORM_ENTRIES(ZVCERT_PLATFORM_MEMBER)
#undef ZVCERT_PLATFORM_MEMBER
};

// The real functions.
PlatformServices RealPlatform();

// The services in force: RealPlatform() until a test replaces entries.
extern PlatformServices platform;

}  // namespace zvcert
