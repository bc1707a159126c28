// Appends DER into a fixed work area. Once an append does not fit, every
// later one is refused too, so a caller checks ok() once at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zvcert {

class DerWriter {
 public:
  explicit DerWriter(std::span<uint8_t> area) : area_(area) {}

  void Byte(uint8_t b) {
    if (!Room(1)) return;
    area_[size_++] = b;
  }
  void Bytes(std::span<const uint8_t> bytes) {
    if (!Room(bytes.size())) return;
    for (uint8_t b : bytes) area_[size_++] = b;
  }
  // A DER length in its shortest form (short, 81 nn or 82 hh ll).
  void Length(size_t length) {
    if (length < 0x80) {
      Byte(static_cast<uint8_t>(length));
    } else if (length <= 0xFF) {
      Byte(0x81);
      Byte(static_cast<uint8_t>(length));
    } else if (length <= 0xFFFF) {
      Byte(0x82);
      Byte(static_cast<uint8_t>(length >> 8));
      Byte(static_cast<uint8_t>(length));
    } else {
      ok_ = false;
    }
  }
  // Tag and length, then the content as already encoded.
  void Element(uint8_t tag, std::span<const uint8_t> content) {
    Byte(tag);
    Length(content.size());
    Bytes(content);
  }

  bool ok() const { return ok_; }
  size_t size() const { return size_; }
  std::span<const uint8_t> written() const { return area_.first(size_); }

 private:
  bool Room(size_t n) {
    if (ok_ && area_.size() - size_ < n) ok_ = false;
    return ok_;
  }

  std::span<uint8_t> area_;
  size_t size_ = 0;
  bool ok_ = true;
};

// A work area and its writer, for a piece built before it is joined.
template <size_t N>
struct DerPiece {
  std::array<uint8_t, N> area;
  DerWriter writer{area};
};

}  // namespace zvcert
