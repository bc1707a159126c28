// Appends DER into a fixed work area. An element is opened on the writer, its
// content is written after it in place, and its length is put in front when
// it closes. Once an append or a close does not fit, every later one is
// refused too, so a caller checks ok() once at the end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace zvcert {

class DerWriter;

// An open element. It closes at Close() or at the end of its scope; elements
// close innermost first, and a close out of that order fails the writer.
class [[nodiscard]] DerElement {
 public:
  DerElement(const DerElement&) = delete;
  DerElement& operator=(const DerElement&) = delete;
  ~DerElement() { Close(); }
  void Close();

 private:
  friend class DerWriter;
  DerElement(DerWriter* writer, size_t start, size_t limit, size_t enclosing)
      : writer_(writer), start_(start), limit_(limit), enclosing_(enclosing) {}

  DerWriter* writer_;  // null once closed, or when it could not be opened
  size_t start_;       // where its tag is
  size_t limit_;       // its largest size, header included
  size_t enclosing_;   // the start of the element it is written in
};

class DerWriter {
 public:
  static constexpr size_t kNoLimit = SIZE_MAX;

  explicit DerWriter(std::span<uint8_t> area) : area_(area) {}
  DerWriter(const DerWriter&) = delete;
  DerWriter& operator=(const DerWriter&) = delete;

  void Byte(uint8_t b) {
    if (Room(1)) area_[size_++] = b;
  }
  void Bytes(std::span<const uint8_t> bytes) {
    if (!Room(bytes.size())) return;
    std::copy(bytes.begin(), bytes.end(), area_.begin() + size_);
    size_ += bytes.size();
  }
  // n bytes, zeroed, for the caller to fill; empty when they do not fit.
  std::span<uint8_t> Reserve(size_t n) {
    if (!Room(n)) return {};
    const std::span<uint8_t> room = area_.subspan(size_, n);
    std::fill(room.begin(), room.end(), 0);
    size_ += n;
    return room;
  }
  // An element whose content is what is written until it closes. Its close
  // fails when the element, header included, exceeds limit bytes.
  DerElement Open(uint8_t tag, size_t limit = kNoLimit) {
    const size_t start = size_;
    Byte(tag);
    Byte(0);  // one length byte for now; a longer form moves the content at the close
    if (!ok_) return DerElement(nullptr, 0, 0, 0);
    return DerElement(this, start, limit, std::exchange(innermost_, start));
  }
  // Tag, length and the content as already encoded.
  void Element(uint8_t tag, std::span<const uint8_t> content) {
    DerElement element = Open(tag);
    Bytes(content);
  }
  // For input that has no encoding.
  void Fail() { ok_ = false; }

  bool ok() const { return ok_; }
  size_t size() const { return size_; }
  std::span<uint8_t> written() { return area_.first(size_); }
  // What the encoders return: the length, or 0 when anything failed.
  int32_t resultLength() const { return ok_ ? static_cast<int32_t>(size_) : 0; }

 private:
  friend class DerElement;

  bool Room(size_t n) {
    if (ok_ && area_.size() - size_ < n) ok_ = false;
    return ok_;
  }
  // The one place lengths are written: the shortest form (short, 81 nn or
  // 82 hh ll), the content moved forward when it needs more than one byte.
  void Close(const DerElement& element) {
    if (!ok_) return;
    const size_t contentAt = element.start_ + 2;
    const size_t length = size_ - contentAt;
    const size_t extra = length < 0x80 ? 0 : length <= 0xFF ? 1 : 2;
    if (element.start_ != innermost_ || length > 0xFFFF || 2 + extra + length > element.limit_ ||
        !Room(extra)) {
      ok_ = false;
      return;
    }
    innermost_ = element.enclosing_;
    std::copy_backward(area_.begin() + contentAt, area_.begin() + size_,
                       area_.begin() + size_ + extra);
    size_ += extra;
    area_[element.start_ + 1] = static_cast<uint8_t>(extra == 0 ? length : 0x80 | extra);
    for (size_t i = 1; i <= extra; ++i) {
      area_[element.start_ + 1 + i] = static_cast<uint8_t>(length >> (8 * (extra - i)));
    }
  }

  std::span<uint8_t> area_;
  size_t size_ = 0;
  size_t innermost_ = kNoLimit;  // the start of the innermost open element
  bool ok_ = true;
};

inline void DerElement::Close() {
  if (writer_ != nullptr) std::exchange(writer_, nullptr)->Close(*this);
}

}  // namespace zvcert
