// The stand-in's bulk text, and message payloads that carry a great deal of
// it without the stand-in writing it all out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv::stand_in {

/// The bulk text repeats one block of this many bytes: 16-byte lines, each
/// the line's offset within the block in 15 decimal digits and a newline.
inline constexpr std::size_t BULK_BLOCK = std::size_t{1} << 20;

/// The first `n` bytes of the bulk text.
std::string bulk_text(std::size_t n);

/// `head` followed by the first `n` bytes of the bulk text, readable as one
/// run of bytes. Only the first page and one block are written, to a memory
/// file; the rest maps that block again and again, so even a text of 1 GiB
/// costs a few milliseconds and about 1 MiB.
class BulkPayload {
 public:
  /// Fails with the OS error of making the memory file or a mapping.
  /// `head` must be shorter than a page.
  [[nodiscard]] static Result<BulkPayload> make(std::string_view head, std::size_t n);

  BulkPayload(BulkPayload&& other) noexcept;
  BulkPayload& operator=(BulkPayload&&) = delete;
  ~BulkPayload();

  std::string_view bytes() const { return {base_, size_}; }

 private:
  BulkPayload() = default;

  char* base_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;  // bytes of address space from base_
};

}  // namespace kiv::stand_in
