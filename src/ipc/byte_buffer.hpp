// Bytes whose storage grows without ever holding two copies: a private
// anonymous mapping that the kernel extends in place or moves (mremap), so a
// message of N bytes costs about N bytes however it grew.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv::ipc {

class ByteBuffer {
 public:
  ByteBuffer() noexcept = default;
  /// A copy of `bytes` (what a sender or a test hands in). Throws
  /// std::bad_alloc when no memory is left, as a string would.
  ByteBuffer(std::string_view bytes);  // NOLINT: a payload is given as text
  ByteBuffer(const std::string& bytes) : ByteBuffer(std::string_view(bytes)) {}  // NOLINT
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer();

  const char* data() const { return data_; }
  char* data() { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  operator std::string_view() const { return {data_, size_}; }  // NOLINT: read as bytes everywhere

  /// Room for at least `capacity` bytes in all, keeping the bytes held and
  /// without copying them. Fails with the OS error (ENOMEM when the memory
  /// or the address space is exhausted), leaving the buffer as it was.
  [[nodiscard]] Status reserve(std::size_t capacity);
  /// The size after bytes were written into data() up to `size`, which must
  /// not exceed capacity().
  void set_size(std::size_t size);

  friend bool operator==(const ByteBuffer& a, std::string_view b) { return std::string_view(a) == b; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // the mapping's length, whole pages
};

}  // namespace kiv::ipc
