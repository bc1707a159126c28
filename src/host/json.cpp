#include "host/json.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encoding/utf8.h"

namespace zvhost::json {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  std::array<char, 4> bytes;
  out.append(bytes.data(), zvcert::EncodeUtf8(c, bytes));
}

class Reader {
 public:
  Reader(std::string_view text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

  ParseResult Run() {
    ParseResult result;
    SkipSpace();
    if (!ReadValue(result.value, 0)) {
      result.error = error_ + " at byte " + std::to_string(pos_);
      result.value = Value{};
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

  bool ReadObject(Value& out, int depth) {
    if (depth > maxDepth_) return Fail("nested too deeply");
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
    if (depth > maxDepth_) return Fail("nested too deeply");
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

  bool ReadString(std::string& out) {
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
        out += static_cast<char>(c);
        ++pos_;
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
    out.text = std::string(text_.substr(start, pos_ - start));
    // strtod reads the C locale's '.', which the program never changes.
    out.number = std::strtod(out.text.c_str(), nullptr);
    if (!std::isfinite(out.number)) return Fail("number out of range");
    return true;
  }

  std::string_view text_;
  int maxDepth_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const Value* Value::Find(std::string_view name) const {
  for (const Member& member : members) {
    if (member.name == name) return &member.value;
  }
  return nullptr;
}

ParseResult Parse(std::string_view text, int maxDepth) { return Reader(text, maxDepth).Run(); }

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
