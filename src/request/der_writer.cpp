#include "request/der_writer.h"

#include <algorithm>
#include <utility>

// Out of line: the builders open and close elements in many places, and the
// plug-in is the smaller for one copy of each.
namespace zvcert {

void DerWriter::Bytes(std::span<const uint8_t> bytes) {
  if (!Room(bytes.size())) return;
  std::copy(bytes.begin(), bytes.end(), area_.begin() + size_);
  size_ += bytes.size();
}

std::span<uint8_t> DerWriter::Reserve(size_t n) {
  if (!Room(n)) return {};
  const std::span<uint8_t> room = area_.subspan(size_, n);
  std::fill(room.begin(), room.end(), 0);
  size_ += n;
  return room;
}

DerElement DerWriter::Open(uint8_t tag, size_t limit) {
  const size_t start = size_;
  Byte(tag);
  Byte(0);  // one length byte for now; a longer form moves the content at the close
  if (!ok_) return DerElement(nullptr, 0, 0, 0);
  return DerElement(this, start, limit, std::exchange(innermost_, start));
}

void DerWriter::Close(const DerElement& element) {
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

void DerElement::Close() {
  if (writer_ != nullptr) std::exchange(writer_, nullptr)->Close(*this);
}

}  // namespace zvcert
