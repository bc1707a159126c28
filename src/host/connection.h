// One native-messaging connection and all it keeps between messages: the
// page's one object (one that keeps pending keys in memory keeps them there
// until ImportCert), and whether the extension has named the page yet.
#pragma once

#include <memory>
#include <utility>

#include "host/member_object.h"

namespace zvhost {

struct Connection {
  Connection(std::unique_ptr<MemberObject> members, bool signTextOnly)
      : object(std::move(members)), signTextOnly(signTextOnly) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::unique_ptr<MemberObject> object;  // null when npzvcert.dll could not be started
  // Once per connection: a page cannot move the connection elsewhere.
  bool pageSet = false;
  // Sign only data the consent window can show as text (ZVCERT_SIGN_TEXT_ONLY).
  const bool signTextOnly;
};

// Answers one message at a time until the end of input, or until a reply
// cannot be written.
void Serve(Connection& connection);

}  // namespace zvhost
