#include "token/module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zvcert {
namespace {

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

std::string ModuleNamedIn(std::string_view configuration) {
  std::string module;
  while (!configuration.empty()) {
    const size_t end = configuration.find('\n');
    std::string_view line = configuration.substr(0, end);
    configuration = end == std::string_view::npos ? "" : configuration.substr(end + 1);
    line = Trimmed(line.substr(0, line.find('#')));
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos && Trimmed(line.substr(0, equals)) == "module") {
      module = Trimmed(line.substr(equals + 1));
    }
  }
  return module;
}

std::string ConfiguredModulePath() {
  if (const char* forced = std::getenv("ZVCERT_PKCS11_MODULE"); forced != nullptr && *forced) {
    return forced;
  }
  std::ifstream file(kModuleConfiguration);
  std::stringstream text;
  text << file.rdbuf();
  std::string module = ModuleNamedIn(text.str());
  return module.empty() ? kDefaultModule : module;
}

void Pkcs11Module::Closer::operator()(void* library) const { dlclose(library); }

Pkcs11Module::~Pkcs11Module() {
  if (finalize_) functions_->C_Finalize(nullptr);
}

bool Pkcs11Module::Load(const std::string& path) {
  std::unique_ptr<void, Closer> library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) return false;
  auto getFunctionList =
      reinterpret_cast<CK_C_GetFunctionList>(dlsym(library.get(), "C_GetFunctionList"));
  CK_FUNCTION_LIST* functions = nullptr;
  if (getFunctionList == nullptr || getFunctionList(&functions) != CKR_OK || functions == nullptr) {
    return false;
  }
  // The module makes its own locks: the host may call from more than one thread.
  CK_C_INITIALIZE_ARGS arguments{};
  arguments.flags = CKF_OS_LOCKING_OK;
  const CK_RV initialised = functions->C_Initialize(&arguments);
  if (initialised != CKR_OK && initialised != CKR_CRYPTOKI_ALREADY_INITIALIZED) return false;
  library_ = std::move(library);
  functions_ = functions;
  finalize_ = initialised == CKR_OK;
  return true;
}

}  // namespace zvcert
