#include "host/consent_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "encoding/utf8.h"
#include "host/unicode_classes.h"

namespace zvhost {
namespace {

using zvcert::kReplacementCharacter;
using zvcert::NextCodePoint;

// Combining marks shown on one base character: enough for every script's
// ordinary stacks, too few to smear a line.
constexpr size_t kMaxMarks = 4;
// Blank lines in a row and white-space characters in a row shown as they
// are; longer runs could push what follows out of sight.
constexpr size_t kMaxBlankLines = 2;
constexpr size_t kMaxSpaces = 16;

constexpr std::string_view kOpen = "\xE2\x9F\xA8";   // U+27E8 ⟨
constexpr std::string_view kClose = "\xE2\x9F\xA9";  // U+27E9 ⟩

template <size_t N>
bool InRanges(const unicode::CodeRange (&ranges)[N], char32_t cp) {
  const auto* after =
      std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                       [](char32_t c, const unicode::CodeRange& r) { return c < r.first; });
  return after != std::begin(ranges) && cp <= std::prev(after)->last;
}

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0); }

// Space, tab and the other space separators (Zs), and the symbols that draw
// as blank as a space does (the braille blank, the null notehead): a run of
// them hides as much as a run of spaces. The fillers that draw nothing are
// escaped instead (NeedsEscape).
bool IsWhiteSpace(char32_t cp) {
  return cp == ' ' || cp == '\t' || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x202F || cp == 0x205F || cp == 0x3000 || cp == 0x2800 || cp == 0x1D159;
}

// Characters that draw nothing (default-ignorable ones, assigned or not,
// fillers and variation selectors among them), reorder or join their
// neighbours, break lines of their own accord or draw as whatever a font
// makes of them (private use, unassigned: a later Unicode may make them
// invisible); and the escape's own bracket, so that every ⟨ the user sees
// opens a marker.
bool NeedsEscape(char32_t cp) {
  if (InRanges(unicode::kInvisible, cp)) return true;                // Cf, Cn, ignorable
  if (cp == 0x2028 || cp == 0x2029) return true;                     // Zl, Zp
  if ((cp >= 0xE000 && cp <= 0xF8FF) || cp >= 0xF0000) return true;  // Co, planes 15 and 16
  return cp == 0x27E8;                                               // ⟨
}

// The text or emoji presentation selector, shown on a pictograph: it
// chooses how the pictograph draws (❤️), and hides nothing.
bool IsPresentationSelector(char32_t cp) { return cp == 0xFE0E || cp == 0xFE0F; }

// A byte that does not start a well-formed sequence (a genuine U+FFFD takes
// three).
bool IllFormed(char32_t cp, size_t length) { return cp == kReplacementCharacter && length == 1; }

bool IsText(std::string_view bytes) {
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t at = pos;
    const char32_t cp = NextCodePoint(bytes, pos);
    if (IllFormed(cp, pos - at) || (IsControl(cp) && cp != '\t' && cp != '\n' && cp != '\r')) {
      return false;
    }
  }
  return true;
}

// Where Unicode puts the right-to-left scripts (the blocks whose code
// points default to bidi class R or AL): their letters, and the Arabic
// digits among them, run right to left.
bool RightToLeft(char32_t cp) {
  return (cp >= 0x590 && cp <= 0x8FF) || (cp >= 0xFB1D && cp <= 0xFDFF) ||
         (cp >= 0xFE70 && cp <= 0xFEFF) || (cp >= 0x10800 && cp <= 0x10FFF) ||
         (cp >= 0x1E800 && cp <= 0x1EFFF);
}

// A line that holds right-to-left characters and also a number or a letter
// of another script, or a marker that starts with a number (⟨N spaces⟩,
// ⟨0xHH⟩). The window's box runs left to right, and beside right-to-left
// letters it draws digit groups, and right-to-left words between other
// words, in another order than the bytes'. A line wholly in a right-to-left
// script, with spaces, punctuation, symbols and ⟨U+XXXX⟩ escapes (which
// start with a letter), reads as written.
bool MixesDirections(std::string_view line, bool fold) {
  bool rightToLeft = false;
  bool other = false;
  size_t spaces = 0;
  for (size_t pos = 0; pos < line.size() && !(rightToLeft && other);) {
    const size_t at = pos;
    const char32_t cp = NextCodePoint(line, pos);
    const bool rtl = RightToLeft(cp);
    spaces = IsWhiteSpace(cp) ? spaces + 1 : 0;
    rightToLeft = rightToLeft || rtl;
    other = other || InRanges(unicode::kNumber, cp) || (!rtl && InRanges(unicode::kLetter, cp)) ||
            (fold && spaces > kMaxSpaces) || IllFormed(cp, pos - at);
  }
  return rightToLeft && other;
}

bool IsBlank(std::string_view line) {
  for (size_t pos = 0; pos < line.size();) {
    if (!IsWhiteSpace(NextCodePoint(line, pos))) return false;
  }
  return true;
}

// Appends up to a limit; once over it, refuses every later append, and the
// caller checks once at the end.
class Writer {
 public:
  explicit Writer(size_t limit) : limit_(limit) {}

  void Append(std::string_view part) {
    if (over_ || part.size() > limit_ - out_.size()) {
      over_ = true;
      return;
    }
    out_.append(part);
  }

  void Marker(std::string_view inside) {
    Append(kOpen);
    Append(inside);
    Append(kClose);
  }

  void Escape(char32_t cp) {
    std::array<char, 12> hex;
    std::snprintf(hex.data(), hex.size(), "U+%04X", static_cast<unsigned>(cp));
    Marker(hex.data());
    ++escaped;
  }

  void EscapeByte(char byte) {
    std::array<char, 8> hex;
    std::snprintf(hex.data(), hex.size(), "0x%02X", static_cast<unsigned char>(byte));
    Marker(hex.data());
    ++escaped;
  }

  void Fold(size_t count, std::string_view what) {
    Marker(std::to_string(count).append(what));
    ++folded;
  }

  bool over() const { return over_; }
  std::string& text() { return out_; }

  size_t escaped = 0;
  size_t folded = 0;

 private:
  size_t limit_;
  std::string out_;
  bool over_ = false;
};

// One line, without its line end. With fold, runs of white space are
// folded; without (names), white space other than the space is escaped.
void WriteLine(std::string_view line, bool fold, Writer& out) {
  const bool escapeRightToLeft = MixesDirections(line, fold);
  bool base = false;        // a character shown as itself, on which marks may sit
  bool pictograph = false;  // and it is a pictograph
  size_t marks = 0;         // marks shown on it so far
  for (size_t pos = 0; pos < line.size() && !out.over();) {
    const size_t at = pos;
    const char32_t cp = NextCodePoint(line, pos);
    const std::string_view bytes = line.substr(at, pos - at);
    if (IllFormed(cp, bytes.size())) {
      out.EscapeByte(line[at]);
      base = false;
    } else if (fold && IsWhiteSpace(cp)) {
      size_t count = 1;
      size_t end = pos;
      char32_t last = cp;
      for (size_t next = end; next < line.size(); end = next) {
        const char32_t c = NextCodePoint(line, next);
        if (!IsWhiteSpace(c)) break;
        ++count;
        last = c;
      }
      if (count > kMaxSpaces) {
        out.Fold(count, " spaces");
      } else {
        out.Append(line.substr(at, end - at));
      }
      base = count <= kMaxSpaces && last != '\t';
      pictograph = false;
      marks = 0;
      pos = end;
    } else if (IsPresentationSelector(cp) && base && pictograph && marks == 0) {
      out.Append(bytes);
      ++marks;
    } else if (IsControl(cp) || NeedsEscape(cp) || (escapeRightToLeft && RightToLeft(cp))) {
      out.Escape(cp);
      base = false;
    } else if (InRanges(unicode::kMark, cp)) {
      // A mark with no base would sit on the line before or on a marker.
      if (base && marks < kMaxMarks) {
        out.Append(bytes);
        ++marks;
      } else {
        out.Escape(cp);
        base = false;
      }
    } else {
      out.Append(bytes);
      base = true;
      pictograph = InRanges(unicode::kPictograph, cp);
      marks = 0;
    }
  }
}

}  // namespace

ShownText ShowSignedText(std::string_view bytes) {
  ShownText shown;
  if (!IsText(bytes)) {
    shown.unshown = kNotText;
    return shown;
  }
  shown.isText = true;
  Writer out(kMaxShownText);
  // Blank lines not yet written: the first ones, how many, and whether the
  // last ended with a line end.
  std::array<std::string_view, kMaxBlankLines> blank;
  size_t blanks = 0;
  bool blankEnded = false;
  const auto writeBlanks = [&] {
    if (blanks > kMaxBlankLines) {
      out.Fold(blanks, " blank lines");
      if (blankEnded) out.Append("\n");
    } else {
      for (size_t i = 0; i < blanks; ++i) {
        WriteLine(blank[i], true, out);
        if (i + 1 < blanks || blankEnded) out.Append("\n");
      }
    }
    blanks = 0;
  };
  for (size_t pos = 0; !out.over();) {
    const size_t end = bytes.find('\n', pos);
    const bool ended = end != std::string_view::npos;
    std::string_view line = bytes.substr(pos, ended ? end - pos : std::string_view::npos);
    // After the last line end, nothing: no line.
    if (!ended && line.empty()) break;
    if (ended && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsBlank(line)) {
      if (blanks < kMaxBlankLines) blank[blanks] = line;
      ++blanks;
      blankEnded = ended;
    } else {
      writeBlanks();
      WriteLine(line, true, out);
      if (ended) out.Append("\n");
    }
    if (!ended) break;
    pos = end + 1;
  }
  writeBlanks();
  if (out.over()) {
    shown.unshown = kTooLong;
    return shown;
  }
  shown.text = std::move(out.text());
  shown.escaped = out.escaped;
  shown.folded = out.folded;
  return shown;
}

ShownText ShowName(std::string_view bytes) {
  ShownText shown;
  shown.isText = IsText(bytes);
  Writer out(SIZE_MAX);
  WriteLine(bytes, false, out);
  shown.text = std::move(out.text());
  shown.escaped = out.escaped;
  return shown;
}

}  // namespace zvhost
