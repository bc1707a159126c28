#include "host/framing.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <new>

namespace zvhost::framing {
namespace {

// Browsers send at most 64 MiB.
constexpr uint32_t kMaxMessage = 64u << 20;

// False at the end of input, whether or not some bytes came first.
bool ReadExactly(char* buffer, size_t size) {
  while (size > 0) {
    const size_t n = std::fread(buffer, 1, size, stdin);
    if (n == 0) return false;
    buffer += n;
    size -= n;
  }
  return true;
}

bool Skip(uint32_t size) {
  char chunk[65536];
  while (size > 0) {
    const uint32_t n = size < sizeof chunk ? size : static_cast<uint32_t>(sizeof chunk);
    if (!ReadExactly(chunk, n)) return false;
    size -= n;
  }
  return true;
}

}  // namespace

void UseBinaryStreams() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool Begin(Incoming& message) {
  unsigned char header[4];
  if (!ReadExactly(reinterpret_cast<char*>(header), sizeof header)) return false;
  message.size =
      header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
  if (message.size > kMaxMessage) {
    message.refusal = "message longer than 64 MiB";
    message.refusalReason = Reason::TooLong;
    return true;
  }
  message.bytes.reset(new (std::nothrow) char[message.size == 0 ? 1 : message.size]);
  if (message.bytes == nullptr) message.refusal = "out of memory";
  return true;
}

bool Finish(Incoming& message) {
  if (message.refusal != nullptr) return Skip(message.size);
  return ReadExactly(message.bytes.get(), message.size);
}

bool Write(std::string_view body) {
  const uint32_t size = static_cast<uint32_t>(body.size());
  const unsigned char header[4] = {
      static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
      static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
  return std::fwrite(header, 1, 4, stdout) == 4 &&
         std::fwrite(body.data(), 1, body.size(), stdout) == body.size() &&
         std::fflush(stdout) == 0;
}

}  // namespace zvhost::framing
