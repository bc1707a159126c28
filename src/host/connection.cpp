#include "host/connection.h"

#include <utility>

#include "host/commands.h"
#include "host/framing.h"
#include "host/reply.h"

namespace zvhost {

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
