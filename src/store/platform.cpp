#include "store/platform.h"

#include <initializer_list>

namespace zvcert {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;   // 0x10001
constexpr DWORD kKeyExportable = (kKeyBits << 16) | CRYPT_EXPORTABLE;  // 0x04000001 for 1024
constexpr ALG_ID kHashAlgorithm = kSignatureHash == SignatureHash::Sha256   ? CALG_SHA_256
                                  : kSignatureHash == SignatureHash::Sha384 ? CALG_SHA_384
                                  : kSignatureHash == SignatureHash::Sha512 ? CALG_SHA_512
                                                                            : CALG_SHA1;
// The same hash as CMS names it.
constexpr const char* kHashOid = kSignatureHash == SignatureHash::Sha256   ? szOID_NIST_sha256
                                 : kSignatureHash == SignatureHash::Sha384 ? szOID_NIST_sha384
                                 : kSignatureHash == SignatureHash::Sha512 ? szOID_NIST_sha512
                                                                           : szOID_OIWSEC_sha1;

// An entry that hands its arguments to one Windows function unchanged; the
// table's type gives the parameters. Also bridges the calling conventions:
// the Windows functions are stdcall, the table's entries are not.
template <auto api, typename Result, typename... Parameters>
Result Forward(Parameters... arguments) {
  return api(arguments...);
}

HCERTSTORE OpenPersonalStore() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
}

HCERTSTORE OpenRequestStore() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"REQUEST");
}

PCCERT_CONTEXT FindByPublicKey(HCERTSTORE store, const CERT_PUBLIC_KEY_INFO* key,
                               PCCERT_CONTEXT previous) {
  return CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_PUBLIC_KEY, key, previous);
}

DWORD GetNameAttribute(PCCERT_CONTEXT cert, DWORD flags, const char* oid, char* name,
                       DWORD capacity) {
  return CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(oid), name,
                            capacity);
}

DWORD GetNameAttributeW(PCCERT_CONTEXT cert, DWORD flags, const char* oid, wchar_t* name,
                        DWORD capacity) {
  return CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(oid), name,
                            capacity);
}

BOOL GetKeyProvInfo(PCCERT_CONTEXT cert, void* area, DWORD* size) {
  return CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, area, size);
}

BOOL SetKeyProvInfo(PCCERT_CONTEXT cert, const CRYPT_KEY_PROV_INFO* info) {
  return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, info);
}

BOOL AddCertificate(HCERTSTORE store, PCCERT_CONTEXT cert, PCCERT_CONTEXT* stored) {
  return CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, stored);
}

PCCERT_CONTEXT CreateCertificate(const BYTE* der, DWORD size) {
  return static_cast<PCCERT_CONTEXT>(
      CertCreateContext(CERT_STORE_CERTIFICATE_CONTEXT, kEncoding, der, size, 0, nullptr));
}

PCCERT_CONTEXT CreateSelfSigned(HCRYPTPROV prov, const CERT_NAME_BLOB* subject,
                                const CRYPT_KEY_PROV_INFO* info) {
  return CertCreateSelfSignCertificate(prov, const_cast<CERT_NAME_BLOB*>(subject), 0,
                                       const_cast<CRYPT_KEY_PROV_INFO*>(info), nullptr, nullptr,
                                       nullptr, nullptr);
}

BOOL CommitStore(HCERTSTORE store) {
  return CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

BOOL CloseStore(HCERTSTORE store) { return CertCloseStore(store, 0); }

BOOL VerifyIssuedBy(PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer) {
  return CryptVerifyCertificateSignatureEx(
      0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, const_cast<CERT_CONTEXT*>(cert),
      CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

BOOL GetProviderName(HCRYPTPROV prov, BYTE* name, DWORD* size) {
  *size = kProviderNameAreaSize;
  return CryptGetProvParam(prov, PP_NAME, name, size, 0);
}

BOOL GetDefaultProviderName(BYTE* name, DWORD* size) {
  for (const DWORD which : {CRYPT_USER_DEFAULT, CRYPT_MACHINE_DEFAULT}) {
    *size = kProviderNameAreaSize;
    if (CryptGetDefaultProviderA(kProviderType, nullptr, which, reinterpret_cast<char*>(name),
                                 size)) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOL GenerateSignatureKey(HCRYPTPROV prov, HCRYPTKEY* key) {
  return CryptGenKey(prov, CALG_RSA_SIGN, kKeyExportable, key);
}

BOOL GenerateKeptSignatureKey(HCRYPTPROV prov, HCRYPTKEY* key) {
  return CryptGenKey(prov, CALG_RSA_SIGN, kKeyBits << 16, key);
}

BOOL ExportKey(HCRYPTKEY key, DWORD blobType, BYTE* blob, DWORD* size) {
  return CryptExportKey(key, 0, blobType, 0, blob, size);
}

BOOL ImportPrivateKey(HCRYPTPROV prov, const BYTE* blob, DWORD size, HCRYPTKEY* key) {
  return CryptImportKey(prov, blob, size, 0, 0, key);
}

BOOL CreateHash(HCRYPTPROV prov, HCRYPTHASH* hash) {
  return CryptCreateHash(prov, kHashAlgorithm, 0, 0, hash);
}

BOOL HashData(HCRYPTHASH hash, const BYTE* data, DWORD size) {
  return CryptHashData(hash, data, size, 0);
}

BOOL SignHash(HCRYPTHASH hash, BYTE* signature, DWORD* size) {
  return CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature, size);
}

BOOL ReleaseContext(HCRYPTPROV prov) { return CryptReleaseContext(prov, 0); }

HCRYPTMSG OpenSignedMessage(PCCERT_CONTEXT signer, HCRYPTPROV prov, DWORD flags) {
  // Copied by the call; only prov has to stay.
  CMSG_SIGNER_ENCODE_INFO signerInfo{};
  signerInfo.cbSize = sizeof signerInfo;
  signerInfo.pCertInfo = signer->pCertInfo;  // issuer and serial name the signer
  signerInfo.hCryptProv = prov;
  signerInfo.dwKeySpec = AT_SIGNATURE;
  signerInfo.HashAlgorithm.pszObjId = const_cast<char*>(kHashOid);
  CERT_BLOB certificate{signer->cbCertEncoded, signer->pbCertEncoded};
  CMSG_SIGNED_ENCODE_INFO info{};
  info.cbSize = sizeof info;
  info.cSigners = 1;
  info.rgSigners = &signerInfo;
  info.cCertEncoded = 1;
  info.rgCertEncoded = &certificate;
  return CryptMsgOpenToEncode(kEncoding, flags, CMSG_SIGNED, &info, nullptr, nullptr);
}

BOOL UpdateMessage(HCRYPTMSG msg, const BYTE* data, DWORD size) {
  return CryptMsgUpdate(msg, data, size, TRUE);
}

BOOL GetMessageContent(HCRYPTMSG msg, BYTE* content, DWORD* size) {
  return CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, content, size);
}

RPC_STATUS UuidToText(const UUID* uuid, RPC_CSTR* text) {
  return UuidToStringA(const_cast<UUID*>(uuid), text);
}

}  // namespace

PlatformServices RealPlatform() {
#define ZVCERT_REAL_ENTRY(name, result, parameters, real) .name = real,
  return PlatformServices{ZVCERT_PLATFORM_ENTRIES(ZVCERT_REAL_ENTRY)};
#undef ZVCERT_REAL_ENTRY
}

PlatformServices platform = RealPlatform();

}  // namespace zvcert
