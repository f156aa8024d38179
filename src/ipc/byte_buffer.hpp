// Bytes whose storage grows without ever holding two copies: a private
// anonymous mapping that the kernel extends in place or moves (mremap), so a
// message of N bytes costs about N bytes however it grew.
//
// Mapping and unmapping for every message would cost system calls, page
// faults and, with other threads running, a flush of their address caches:
// so each thread keeps the storage of one buffer it has finished with and
// hands it to the next buffer it fills. Storage larger than KEPT_CAPACITY is
// cut back to that size first, so a huge message gives its memory back as
// soon as it is done with, and a thread never holds more than
// KEPT_CAPACITY between messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv::ipc {

class ByteBuffer {
 public:
  /// The most storage a thread keeps for its next buffer.
  static constexpr std::size_t KEPT_CAPACITY = std::size_t{1} << 20;

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
  /// without copying them. A buffer without storage first takes what its
  /// thread kept. Fails with the OS error (ENOMEM when the memory or the
  /// address space is exhausted), keeping the bytes held.
  [[nodiscard]] Status reserve(std::size_t capacity);
  /// The size after bytes were written into data() up to `size`, which must
  /// not exceed capacity().
  void set_size(std::size_t size);

  friend bool operator==(const ByteBuffer& a, std::string_view b) { return std::string_view(a) == b; }

 private:
  // Hands the storage to the thread for its next buffer, or unmaps it.
  void release() noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // the mapping's length, whole pages
};

}  // namespace kiv::ipc
