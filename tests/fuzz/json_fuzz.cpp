// The JSON reader under random input: it must never crash, and a document it
// accepts must survive being written out and read again unchanged. Any bytes
// quoted by the writer must read back as the same text once repaired.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding/utf8.h"
#include "host/json.h"

namespace {

using namespace zvhost::json;

std::string Write(const Value& v) {
  switch (v.type) {
    case Type::Null:
      return "null";
    case Type::Bool:
      return v.boolean ? "true" : "false";
    case Type::Number:
      return v.text;
    case Type::String:
      return Quote(v.text);
    case Type::Array: {
      std::string out = "[";
      for (size_t i = 0; i < v.items.size(); ++i) out += (i ? "," : "") + Write(v.items[i]);
      return out + "]";
    }
    case Type::Object: {
      std::string out = "{";
      for (size_t i = 0; i < v.members.size(); ++i) {
        out += (i ? "," : "") + Quote(v.members[i].name) + ":" + Write(v.members[i].value);
      }
      return out + "}";
    }
  }
  std::abort();
}

bool Same(const Value& a, const Value& b) {
  if (a.type != b.type || a.boolean != b.boolean || a.text != b.text ||
      a.items.size() != b.items.size() || a.members.size() != b.members.size()) {
    return false;
  }
  if (a.type == Type::Number && a.number != b.number) return false;
  for (size_t i = 0; i < a.items.size(); ++i) {
    if (!Same(a.items[i], b.items[i])) return false;
  }
  for (size_t i = 0; i < a.members.size(); ++i) {
    if (a.members[i].name != b.members[i].name || !Same(a.members[i].value, b.members[i].value)) {
      return false;
    }
  }
  return true;
}

// The text with every ill-formed byte replaced, as the writer promises.
std::string Repaired(std::string_view bytes) {
  std::string out;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t start = pos;
    if (zvcert::NextCodePoint(bytes, pos) == zvcert::kReplacementCharacter) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Limits small enough for random input to meet them.
  const Limits limits{.maxDepth = 16, .maxValues = 256};
  const ParseResult first = Parse(input, limits);
  if (first.ok) {
    const ParseResult again = Parse(Write(first.value), limits);
    if (!again.ok || !Same(first.value, again.value)) std::abort();
  } else if (first.error.empty()) {
    std::abort();
  }
  const ParseResult quoted = Parse(Quote(input));
  if (!quoted.ok || quoted.value.text != Repaired(input)) std::abort();
  return 0;
}
