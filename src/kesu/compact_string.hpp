// An immutable text that keeps up to 23 bytes inside itself and stores a
// longer one once on the heap, shared by all its copies through an atomic
// reference count and freed with the last of them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kesu {

class CompactString {
 public:
  static constexpr std::size_t kInlineCapacity = 23;

  /// The empty text.
  constexpr CompactString() noexcept = default;
  /// A copy of `text` (any bytes, NUL included).
  explicit CompactString(std::string_view text);

  /// Shares the heap text of `other`, or copies its inline bytes.
  CompactString(const CompactString& other) noexcept;
  CompactString(CompactString&& other) noexcept;
  CompactString& operator=(CompactString other) noexcept;
  ~CompactString();

  std::string_view view() const noexcept;
  std::size_t size() const noexcept { return is_heap() ? heap_size() : tag_; }
  bool empty() const noexcept { return size() == 0; }

  /// Whether the text lives on the heap (longer than kInlineCapacity).
  bool is_heap() const noexcept { return tag_ == kHeapTag; }
  /// Whether this and `other` hold the very same heap storage.
  bool shares_storage_with(const CompactString& other) const noexcept {
    return is_heap() && other.is_heap() && shared() == other.shared();
  }

  /// Equal texts. Copies of one heap text are equal without reading it.
  friend bool operator==(const CompactString& a, const CompactString& b) noexcept;
  friend bool operator==(const CompactString& a, std::string_view b) noexcept { return a.view() == b; }

 private:
  // The heap block: this header, then the text's bytes.
  struct Shared {
    std::atomic<std::size_t> holders;
  };
  static constexpr std::uint8_t kHeapTag = 0xFF;

  // Inline, bytes_ holds the text and tag_ its length. On the heap, bytes_
  // holds the block's address and then the text's length.
  Shared* shared() const noexcept;
  std::size_t heap_size() const noexcept;
  void swap(CompactString& other) noexcept;

  alignas(Shared*) char bytes_[kInlineCapacity] = {};
  std::uint8_t tag_ = 0;
};

static_assert(sizeof(CompactString) == 24);

}  // namespace kesu
