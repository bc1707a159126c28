// npzvcert-host on Linux: answers the browser extension's messages as the
// Windows host does, the members run here over a PKCS #11 token (the
// module named in /etc/npzvcert/pkcs11.conf, by default p11-kit's proxy,
// which reaches every token the system knows; ZVCERT_PKCS11_MODULE
// overrides it for tests). The end of input ends the program with code 0.
#include <memory>

#include "host/connection.h"
#include "host/framing.h"
#include "store/root_pem.h"
#include "token/module.h"
#include "token/token_store.h"
#include "tokenhost/direct_members.h"
#include "tokenhost/token_host.h"

int main() {
  zvhost::framing::UseBinaryStreams();
  zvcert::TokenStore store(zvcert::ConfiguredModulePath(), zvcert::rootCertificatePem);
  zvhost::UseTokenStore(&store);
  {
    zvhost::Connection connection(std::make_unique<zvhost::DirectMembers>(store),
                                  ZVCERT_SIGN_TEXT_ONLY != 0);
    zvhost::Serve(connection);
  }
  zvhost::UseTokenStore(nullptr);
  return 0;
}
