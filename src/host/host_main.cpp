// npzvcert-host.exe: lets a browser extension use the plug-in through native
// messaging. It loads npzvcert.dll from its own folder as a browser does,
// keeps one instance and its scriptable object for the whole connection, and
// answers one message at a time (commands.h):
//
//   {"id": 1, "member": "GetCSR", "args": []}
//   -> {"id": 1, "ok": true, "value": "-----BEGIN ..."}
//   -> {"id": 1, "ok": false, "reason": "malformed", "error": "unknown member"}
//
// The end of input, even in the middle of a message, ends the program with
// code 0: the browser closed the connection. Arguments are ignored: browsers
// pass their own.
#include "host/connection.h"
#include "host/framing.h"
#include "host/plugin_host.h"

int main() {
  zvhost::framing::UseBinaryStreams();
  zvhost::Browser browser;
  zvhost::Connection connection(zvhost::StartPlugin(browser), ZVCERT_SIGN_TEXT_ONLY != 0);
  zvhost::Serve(connection);
  return 0;
}
