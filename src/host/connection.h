// One native-messaging connection and all it keeps between messages: the
// plug-in's one instance and its scriptable object (a plug-in that keeps
// pending keys in memory keeps them there until ImportCert), and whether the
// extension has named the page yet.
#pragma once

#include <memory>

#include "host/plugin_host.h"

namespace zvhost {

struct Connection {
  // Starts the plug-in in browser, which outlives the connection; says on
  // stderr when it could not be started.
  Connection(Browser& browser, bool signTextOnly);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::unique_ptr<Instance> instance;
  std::unique_ptr<ScriptObject> object;  // null when npzvcert.dll could not be started
  // Once per connection: a page cannot move the connection elsewhere.
  bool pageSet = false;
  // Sign only data the consent window can show as text (ZVCERT_SIGN_TEXT_ONLY).
  const bool signTextOnly;
};

// Answers one message at a time until the end of input, or until a reply
// cannot be written.
void Serve(Connection& connection);

}  // namespace zvhost
