// A small, strict JSON reader and writer for native messaging. Messages come
// from another process, so the reader accepts only well-formed UTF-8 JSON and
// bounds nesting, values and text; it never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvhost::json {

enum class Type { Null, Bool, Number, String, Array, Object };

struct Member;

struct Value {
  Type type = Type::Null;
  bool boolean = false;
  double number = 0;
  // The text of a string, or a number as it was written (for echoing ids).
  std::string text;
  std::vector<Value> items;
  std::vector<Member> members;

  // The first member of that name, or nullptr.
  const Value* Find(std::string_view name) const;
  Value* Find(std::string_view name);
};

struct Member {
  std::string name;
  Value value;
};

// What one document may hold, checked before anything is allocated for it,
// so that what the reader holds stays within a small constant beyond the
// document's own length.
struct Limits {
  int maxDepth = 64;
  // A message needs a handful (an id, a member, three arguments); a thousand
  // leave room for any sender's extra members and take a few hundred KiB.
  size_t maxValues = 1024;
  // Bytes of every string, member name and number text together, counted as
  // written (escapes included) before they are decoded. However large, the
  // document's own length bounds them too.
  size_t maxTextBytes = SIZE_MAX;
};

struct ParseResult {
  bool ok = false;
  // Refused for a limit (or for want of memory), not for its grammar: value
  // then holds what came before, an object's complete members, so that the
  // refusal can carry the message's id.
  bool overLimit = false;
  Value value;
  std::string error;  // why it was refused, with the byte offset
};

// One whole document; whitespace around it is allowed, nothing else.
ParseResult Parse(std::string_view text, const Limits& limits = {});

// A string literal with its quotes. Control characters, quotes and
// backslashes are escaped; bytes that are not well-formed UTF-8 become U+FFFD.
std::string Quote(std::string_view utf8);

// The number as a 32-bit integer when it is a whole number in that range
// (as a page's script passes such numbers); nothing for any other, however
// large, never converted out of range.
std::optional<int32_t> AsInt32(double number);

// A number literal; whole numbers without a fraction, non-finite ones as null.
std::string FormatNumber(double value);

}  // namespace zvhost::json
