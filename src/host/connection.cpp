#include "host/connection.h"

#include <cstdio>
#include <utility>

#include "host/commands.h"
#include "host/framing.h"
#include "host/reply.h"

namespace zvhost {

Connection::Connection(Browser& browser, bool signTextOnly) : signTextOnly(signTextOnly) {
  // A page, whose window appears once the extension names its origin.
  Browser::SetPage(Browser::Page{false, Browser::Page::Location::Missing, {}});
  if (browser.loaded() && browser.Start() == NPERR_NO_ERROR) {
    instance = browser.NewInstance();
    if (instance->newError() == NPERR_NO_ERROR) object = instance->GetScriptableObject();
  }
  if (object == nullptr) std::fputs("npzvcert-host: npzvcert.dll could not be started\n", stderr);
}

void Serve(Connection& connection) {
  for (;;) {
    framing::Incoming message;
    if (!framing::Begin(message)) return;
    if (message.refusal != nullptr) {
      const Outcome refused = ErrorOutcome(message.refusalReason, message.refusal);
      if (!WriteReply("null", refused) || !framing::Finish(message)) return;
      continue;
    }
    if (!framing::Finish(message)) return;
    const Answer answer = AnswerMessage(connection, std::move(message.bytes), message.size);
    if (!WriteReply(answer.id, answer.outcome)) return;
  }
}

}  // namespace zvhost
