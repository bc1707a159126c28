// A PKCS #11 module for the tests: the real one (ZVCERT_TEST_REAL_MODULE,
// else SoftHSM2) with one call made to fail as a token would, named in
// ZVCERT_TEST_FAIL as "C_Login:CKR_PIN_LOCKED". What SoftHSM2 cannot do (lock
// a PIN, lose its token mid-call) reaches a host program through its module.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include <p11-kit/pkcs11.h>

namespace {

CK_FUNCTION_LIST functions;
CK_RV failure = CKR_OK;

CK_RV FailingLogin(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG) { return failure; }
CK_RV FailingFindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return failure; }

CK_RV CodeOf(std::string_view name) {
  if (name == "CKR_PIN_LOCKED") return CKR_PIN_LOCKED;
  if (name == "CKR_DEVICE_REMOVED") return CKR_DEVICE_REMOVED;
  if (name == "CKR_TOKEN_NOT_PRESENT") return CKR_TOKEN_NOT_PRESENT;
  if (name == "CKR_SESSION_HANDLE_INVALID") return CKR_SESSION_HANDLE_INVALID;
  return CKR_GENERAL_ERROR;
}

}  // namespace

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  const char* real = std::getenv("ZVCERT_TEST_REAL_MODULE");
  void* module = dlopen(real != nullptr ? real : "/usr/lib/softhsm/libsofthsm2.so", RTLD_NOW);
  if (module == nullptr) return CKR_GENERAL_ERROR;
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
  CK_FUNCTION_LIST_PTR realList = nullptr;
  if (getList == nullptr || getList(&realList) != CKR_OK) return CKR_GENERAL_ERROR;
  std::memcpy(&functions, realList, sizeof functions);
  const char* fail = std::getenv("ZVCERT_TEST_FAIL");
  const std::string_view rule = fail != nullptr ? fail : "";
  const size_t colon = rule.find(':');
  if (colon != std::string_view::npos) {
    failure = CodeOf(rule.substr(colon + 1));
    if (rule.substr(0, colon) == "C_Login") functions.C_Login = FailingLogin;
    if (rule.substr(0, colon) == "C_FindObjectsInit") {
      functions.C_FindObjectsInit = FailingFindObjectsInit;
    }
  }
  *list = &functions;
  return CKR_OK;
}
