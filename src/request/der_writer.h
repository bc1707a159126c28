// Appends DER into a fixed work area. An element is opened on the writer, its
// content is written after it in place, and its length is put in front when
// it closes. Once an append or a close does not fit, every later one is
// refused too, so a caller checks ok() once at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zvcert {

// The tags the module writes: universal ones, and [0] constructed.
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kUtf8String = 0x0C;
inline constexpr uint8_t kPrintableString = 0x13;
inline constexpr uint8_t kIa5String = 0x16;
inline constexpr uint8_t kBmpString = 0x1E;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;
inline constexpr uint8_t kContext0 = 0xA0;

// SEQUENCE { OID rsaEncryption 1.2.840.113549.1.1.1, NULL }
// Internal linkage: each file that writes it keeps a copy of its own.
constexpr std::array<uint8_t, 15> kRsaEncryptionAlgorithm = {
    0x30, 0x0D,                                                        // SEQUENCE
    0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01,  // rsaEncryption
    0x05, 0x00};                                                       // NULL

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
  void Bytes(std::span<const uint8_t> bytes);
  // n bytes, zeroed, for the caller to fill; empty when they do not fit.
  std::span<uint8_t> Reserve(size_t n);
  // An element whose content is what is written until it closes. Its close
  // fails when the element, header included, exceeds limit bytes.
  DerElement Open(uint8_t tag, size_t limit = kNoLimit);
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
  void Close(const DerElement& element);

  std::span<uint8_t> area_;
  size_t size_ = 0;
  size_t innermost_ = kNoLimit;  // the start of the innermost open element
  bool ok_ = true;
};

}  // namespace zvcert
