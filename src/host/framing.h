// Native messaging's framing on the standard streams: each message a 4-byte
// little-endian length, then that many bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "host/protocol.h"

namespace zvhost::framing {

// The streams carry bytes, not text.
void UseBinaryStreams();

// One message coming in.
struct Incoming {
  uint32_t size = 0;
  // Room for its bytes, once Begin has made it.
  std::unique_ptr<char[]> bytes;
  // Why it is refused before it is read (longer than 64 MiB, no memory),
  // or null.
  const char* refusal = nullptr;
  Reason refusalReason = Reason::Failed;
};

// The next message's length, and room for it unless it is refused. False
// at the end of input.
bool Begin(Incoming& message);

// The message's bytes, into its room; a refused message's are skipped, to
// keep the next one in step. False at the end of input, even mid-message.
bool Finish(Incoming& message);

// One message out, flushed. False when it could not be written.
bool Write(std::string_view body);

}  // namespace zvhost::framing
