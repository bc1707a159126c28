#include "token/token_store.h"

#include <string.h>

#include <algorithm>

#include "encoding/pem.h"

namespace zvcert {
namespace {

// A fixed-size token field without the blanks that pad it.
std::string Unpadded(std::span<const unsigned char> field) {
  size_t length = field.size();
  while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\0')) --length;
  return std::string(reinterpret_cast<const char*>(field.data()), length);
}

bool IsUserState(CK_STATE state) {
  return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}

// The copy C_Login reads, wiped as soon as it has: the store never keeps a PIN.
class PinCopy {
 public:
  explicit PinCopy(std::string_view pin) : bytes_(pin.begin(), pin.end()) {}
  ~PinCopy() {
    if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
  }
  PinCopy(const PinCopy&) = delete;
  PinCopy& operator=(const PinCopy&) = delete;
  CK_UTF8CHAR* data() { return bytes_.empty() ? nullptr : bytes_.data(); }
  CK_ULONG size() const { return bytes_.size(); }

 private:
  std::vector<CK_UTF8CHAR> bytes_;
};

}  // namespace

TokenStore::TokenStore(std::string modulePath, std::string rootPem, FunctionListHook hook)
    : modulePath_(std::move(modulePath)), rootPem_(std::move(rootPem)), hook_(hook) {}

TokenStore::~TokenStore() = default;

bool TokenStore::LoadModule() {
  if (functions_ != nullptr) return true;
  if (!module_.Load(modulePath_)) {
    problem_ = StoreProblem::NoModule;
    return false;
  }
  functions_ = hook_ != nullptr ? hook_(module_.functions()) : module_.functions();
  return true;
}

bool TokenStore::Succeeded(CK_RV rv) {
  switch (rv) {
    case CKR_OK:
      return true;
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_DEVICE_REMOVED:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
      problem_ = StoreProblem::TokenRemoved;
      sessionLost_ = true;
      return false;
    default:
      return false;
  }
}

bool TokenStore::ListTokens(std::vector<TokenInfo>& out) {
  out.clear();
  CK_ULONG count = 0;
  if (functions_->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) return false;
  std::vector<CK_SLOT_ID> slots(count);
  if (functions_->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) return false;
  slots.resize(count);
  for (const CK_SLOT_ID slot : slots) {
    CK_TOKEN_INFO token;
    if (functions_->C_GetTokenInfo(slot, &token) != CKR_OK ||
        (token.flags & CKF_TOKEN_INITIALIZED) == 0) {
      continue;
    }
    out.push_back({slot, Unpadded(token.label), Unpadded(token.manufacturerID),
                   Unpadded(token.model), Unpadded(token.serialNumber),
                   (token.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0,
                   (token.flags & CKF_LOGIN_REQUIRED) != 0});
  }
  return true;
}

bool TokenStore::Open() {
  if (!LoadModule()) return false;
  if (session_) return true;
  CK_SLOT_ID slot = 0;
  if (chosen_) {
    slot = *chosen_;
  } else {
    std::vector<TokenInfo> tokens;
    if (!ListTokens(tokens) || tokens.empty()) {
      problem_ = StoreProblem::NoToken;
      return false;
    }
    slot = tokens.front().slot;
  }
  CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
  if (functions_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                &handle) != CKR_OK) {
    problem_ = StoreProblem::NoToken;
    return false;
  }
  session_ = std::make_unique<TokenSession>(functions_, handle);
  return true;
}

bool TokenStore::LoggedIn() {
  CK_SESSION_INFO info;
  CK_TOKEN_INFO token;
  if (!Succeeded(functions_->C_GetSessionInfo(session(), &info))) return false;
  if (IsUserState(info.state)) return true;
  if (!Succeeded(functions_->C_GetTokenInfo(info.slotID, &token))) return false;
  if ((token.flags & CKF_LOGIN_REQUIRED) == 0) return true;
  problem_ = StoreProblem::PinRequired;
  return false;
}

StoreProblem TokenStore::Tokens(std::vector<TokenInfo>& out) {
  const Call call(*this);
  out.clear();
  if (!LoadModule()) return problem_;
  if (!ListTokens(out) || out.empty()) problem_ = StoreProblem::NoToken;
  return problem_;
}

StoreProblem TokenStore::Choose(CK_SLOT_ID slot) {
  const Call call(*this);
  if (!LoadModule()) return problem_;
  CK_TOKEN_INFO token;
  if (functions_->C_GetTokenInfo(slot, &token) != CKR_OK ||
      (token.flags & CKF_TOKEN_INITIALIZED) == 0) {
    return problem_ = StoreProblem::NoToken;
  }
  session_.reset();
  chosen_ = slot;
  return problem_;
}

StoreProblem TokenStore::Login(std::string_view pin) {
  const Call call(*this);
  if (!Open()) return problem_;
  CK_SESSION_INFO info;
  CK_TOKEN_INFO token;
  if (!Succeeded(functions_->C_GetSessionInfo(session(), &info)) ||
      !Succeeded(functions_->C_GetTokenInfo(info.slotID, &token))) {
    return problem_ = StoreProblem::TokenRemoved;
  }
  if (IsUserState(info.state)) return problem_;
  const bool pinPad = (token.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
  if (pin.empty() && !pinPad) return problem_ = StoreProblem::PinRequired;
  PinCopy copy(pin);
  const CK_RV rv = functions_->C_Login(session(), CKU_USER, copy.data(), copy.size());
  switch (rv) {
    case CKR_OK:
      session_->LoggedIn();
      return problem_;
    case CKR_USER_ALREADY_LOGGED_IN:
      return problem_;
    case CKR_PIN_LOCKED:
      return problem_ = StoreProblem::PinLocked;
    default:
      // Whatever else the token says, unless it went away, it did not take the PIN.
      Succeeded(rv);
      if (problem_ == StoreProblem::None) problem_ = StoreProblem::PinIncorrect;
      return problem_;
  }
}

bool TokenStore::ReadRoot(std::vector<uint8_t>& der, CertificateView& view) const {
  DerArea area;
  const std::optional<size_t> length = DecodePemCertificate(rootPem_, area);
  if (!length) return false;
  der.assign(area.begin(), area.begin() + static_cast<ptrdiff_t>(*length));
  return ReadCertificate(der, view);
}

bool TokenStore::IssuedByRoot(const CertificateView& cert) const {
  std::vector<uint8_t> der;
  CertificateView root;
  std::string rootName, issuer;
  return ReadRoot(der, root) && NameAttributeText(root.subject, kCommonNameOid, rootName) &&
         NameAttributeText(cert.issuer, kCommonNameOid, issuer) && issuer == rootName &&
         SignatureVerifies(cert, root.modulus, root.exponent);
}

void TokenStore::ReadRootIssuerName(std::array<char, 128>& name) {
  name[0] = '\0';
  std::vector<uint8_t> der;
  CertificateView root;
  std::string text;
  if (!ReadRoot(der, root) || !NameAttributeText(root.subject, kCommonNameOid, text)) return;
  const size_t length = std::min(text.size(), name.size() - 1);
  std::copy_n(text.begin(), length, name.begin());
  name[length] = '\0';
}

}  // namespace zvcert
