// The token's PKCS #11 module: which library it is, and that library loaded
// and initialised for as long as a store uses it.
#pragma once

#include <p11-kit/pkcs11.h>

#include <memory>
#include <string>
#include <string_view>

namespace zvcert {

// The administrator names the module in this file, as a line "module = /path".
inline constexpr char kModuleConfiguration[] = "/etc/npzvcert/pkcs11.conf";
// Loads every module the system has registered.
inline constexpr char kDefaultModule[] = "p11-kit-proxy.so";

// The value of the last "module = ..." line of a configuration text, blanks
// around it and comments (from #) dropped; empty when there is none.
std::string ModuleNamedIn(std::string_view configuration);

// ZVCERT_PKCS11_MODULE when set, else the configured module, else the proxy.
std::string ConfiguredModulePath();

// The library, its function list and its initialisation: finalised and
// closed together, in that order.
class Pkcs11Module {
 public:
  Pkcs11Module() = default;
  ~Pkcs11Module();
  Pkcs11Module(const Pkcs11Module&) = delete;
  Pkcs11Module& operator=(const Pkcs11Module&) = delete;

  // False when the library does not load, has no C_GetFunctionList, or its
  // C_Initialize fails; nothing is then held.
  bool Load(const std::string& path);
  CK_FUNCTION_LIST* functions() const { return functions_; }

 private:
  struct Closer {
    void operator()(void* library) const;
  };
  std::unique_ptr<void, Closer> library_;
  CK_FUNCTION_LIST* functions_ = nullptr;
  // Not when another part of the process had initialised the module: it
  // finalises it.
  bool finalize_ = false;
};

}  // namespace zvcert
