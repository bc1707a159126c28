#include "host/json.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "encoding/utf8.h"

namespace zvhost::json {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  std::array<char, 4> bytes;
  out.append(bytes.data(), zvcert::EncodeUtf8(c, bytes));
}

// Room for a text of that many bytes. A build without exceptions cannot hear
// of a failed allocation from std::string, which ends the program instead:
// room for a long text is asked of the heap first, and handed back for the
// string to take at once.
bool Reserve(std::string& out, size_t size) {
  constexpr size_t kAlwaysThere = 64 * 1024;
  if (size >= kAlwaysThere) {
    void* room = ::operator new(size + 1, std::nothrow);
    if (room == nullptr) return false;
    ::operator delete(room);
  }
  out.reserve(size);
  return true;
}

class Reader {
 public:
  Reader(std::string_view text, const Limits& limits) : text_(text), limits_(limits) {}

  ParseResult Run() {
    ParseResult result;
    SkipSpace();
    if (!ReadValue(result.value, 0)) {
      result.error = error_ + " at byte " + std::to_string(pos_);
      result.overLimit = overLimit_;
      if (!overLimit_) result.value = Value{};
      return result;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      result.error = "text after the document at byte " + std::to_string(pos_);
      result.value = Value{};
      return result;
    }
    result.ok = true;
    return result;
  }

 private:
  bool Fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  bool FailLimit(const std::string& why) {
    overLimit_ = true;
    error_ = why;
    return false;
  }

  // Text is counted as written, before it is read: its decoded bytes are
  // never more, and the room they take is reserved once.
  bool TakeText(std::string& out, size_t written) {
    if (written > limits_.maxTextBytes - textBytes_) {
      return FailLimit("more than " + std::to_string(limits_.maxTextBytes) +
                       " bytes of text in all");
    }
    textBytes_ += written;
    if (!Reserve(out, written)) return FailLimit("out of memory");
    return true;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++pos_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool ReadValue(Value& out, int depth) {
    if (AtEnd()) return Fail("unexpected end");
    if (++values_ > limits_.maxValues) {
      return FailLimit("more than " + std::to_string(limits_.maxValues) + " values");
    }
    switch (Peek()) {
      case '{':
        return ReadObject(out, depth + 1);
      case '[':
        return ReadArray(out, depth + 1);
      case '"':
        out.type = Type::String;
        return ReadString(out.text);
      case 't':
        out.type = Type::Bool;
        out.boolean = true;
        return Literal("true");
      case 'f':
        out.type = Type::Bool;
        return Literal("false");
      case 'n':
        out.type = Type::Null;
        return Literal("null");
      default:
        return ReadNumber(out);
    }
  }

  bool TooDeep() {
    return FailLimit("nested more than " + std::to_string(limits_.maxDepth) + " levels deep");
  }

  bool ReadObject(Value& out, int depth) {
    if (depth > limits_.maxDepth) return TooDeep();
    out.type = Type::Object;
    ++pos_;
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') return Fail("expected a member name");
      Member member;
      if (!ReadString(member.name)) return false;
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      if (!ReadValue(member.value, depth)) return false;
      out.members.push_back(std::move(member));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ReadArray(Value& out, int depth) {
    if (depth > limits_.maxDepth) return TooDeep();
    out.type = Type::Array;
    ++pos_;
    SkipSpace();
    if (Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      Value item;
      if (!ReadValue(item, depth)) return false;
      out.items.push_back(std::move(item));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool Hex4(uint32_t& out) {
    if (text_.size() - pos_ < 4) return Fail("short \\u escape");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        out |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        out |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("bad hex digit in \\u escape");
      }
    }
    return true;
  }

  bool ReadEscape(std::string& out) {
    if (AtEnd()) return Fail("unterminated string");
    const char c = text_[pos_++];
    switch (c) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return Fail("unknown escape");
    }
    uint32_t unit = 0;
    if (!Hex4(unit)) return false;
    // A surrogate without its partner becomes U+FFFD, as a browser's own
    // conversion of such a string to UTF-8 makes it: the message is still
    // read (and answered under its id).
    constexpr char32_t kReplacement = 0xFFFD;
    if (unit >= 0xDC00 && unit <= 0xDFFF) unit = kReplacement;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const size_t escapeAt = pos_;
      uint32_t low = 0;
      if (text_.substr(pos_, 2) == "\\u" && (pos_ += 2, Hex4(low)) && low >= 0xDC00 &&
          low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      } else {
        // What followed is read again on its own.
        pos_ = escapeAt;
        error_.clear();
        unit = kReplacement;
      }
    }
    AppendUtf8(out, static_cast<char32_t>(unit));
    return true;
  }

  static bool IsPlain(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
  }

  // The bytes between the quotes as written, escapes included; the end of
  // the text when the string is never closed.
  size_t WrittenLength() const {
    size_t end = pos_ + 1;
    while (end < text_.size() && text_[end] != '"') end += text_[end] == '\\' ? 2 : 1;
    return (end < text_.size() ? end : text_.size()) - pos_ - 1;
  }

  bool ReadString(std::string& out) {
    if (!TakeText(out, WrittenLength())) return false;
    ++pos_;  // the opening quote
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\') {
        ++pos_;
        if (!ReadEscape(out)) return false;
      } else if (c < 0x20) {
        return Fail("control character in string");
      } else if (c < 0x80) {
        // A run of plain characters at once: long texts are mostly that.
        size_t end = pos_ + 1;
        while (end < text_.size() && IsPlain(text_[end])) ++end;
        out.append(text_.substr(pos_, end - pos_));
        pos_ = end;
      } else {
        const size_t start = pos_;
        const char32_t cp = zvcert::NextCodePoint(text_, pos_);
        if (cp == zvcert::kReplacementCharacter && text_.substr(start, 3) != "\xEF\xBF\xBD") {
          pos_ = start;
          return Fail("invalid UTF-8");
        }
        out.append(text_.substr(start, pos_ - start));
      }
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool ReadNumber(Value& out) {
    const size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (IsDigit(Peek())) {
      while (IsDigit(Peek())) ++pos_;
    } else {
      return Fail(pos_ == start ? "unexpected character" : "digit expected");
    }
    if (Peek() == '.') {
      ++pos_;
      if (!IsDigit(Peek())) return Fail("digit expected after '.'");
      while (IsDigit(Peek())) ++pos_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!IsDigit(Peek())) return Fail("digit expected in exponent");
      while (IsDigit(Peek())) ++pos_;
    }
    out.type = Type::Number;
    if (!TakeText(out.text, pos_ - start)) return false;
    out.text.assign(text_.substr(start, pos_ - start));
    // strtod reads the C locale's '.', which the program never changes.
    out.number = std::strtod(out.text.c_str(), nullptr);
    if (!std::isfinite(out.number)) return Fail("number out of range");
    return true;
  }

  std::string_view text_;
  const Limits& limits_;
  size_t pos_ = 0;
  size_t values_ = 0;
  size_t textBytes_ = 0;
  bool overLimit_ = false;
  std::string error_;
};

}  // namespace

const Value* Value::Find(std::string_view name) const {
  for (const Member& member : members) {
    if (member.name == name) return &member.value;
  }
  return nullptr;
}

Value* Value::Find(std::string_view name) {
  return const_cast<Value*>(static_cast<const Value&>(*this).Find(name));
}

ParseResult Parse(std::string_view text, const Limits& limits) {
  return Reader(text, limits).Run();
}

std::string Quote(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  size_t pos = 0;
  while (pos < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[pos]);
    if (c >= 0x80) {
      const size_t start = pos;
      const char32_t cp = zvcert::NextCodePoint(utf8, pos);
      if (cp == zvcert::kReplacementCharacter) {
        AppendUtf8(out, cp);
      } else {
        out.append(utf8.substr(start, pos - start));
      }
      continue;
    }
    ++pos;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string FormatNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
  }
  return buffer;
}

std::optional<int32_t> AsInt32(double number) {
  // The range test comes first: converting a double beyond it is undefined.
  if (!(number >= -2147483648.0 && number <= 2147483647.0)) return std::nullopt;
  const auto whole = static_cast<int32_t>(number);
  if (static_cast<double>(whole) != number) return std::nullopt;
  return whole;
}

}  // namespace zvhost::json
