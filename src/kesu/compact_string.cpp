#include "kesu/compact_string.hpp"

#include <cstring>
#include <new>
#include <utility>

namespace kesu {

CompactString::CompactString(std::string_view text) {
  if (text.size() <= kInlineCapacity) {
    std::memcpy(bytes_, text.data(), text.size());
    tag_ = static_cast<std::uint8_t>(text.size());
    return;
  }
  void* block = ::operator new(sizeof(Shared) + text.size());
  Shared* shared = new (block) Shared{1};
  std::memcpy(reinterpret_cast<char*>(shared + 1), text.data(), text.size());
  const std::size_t size = text.size();
  std::memcpy(bytes_, &shared, sizeof shared);
  std::memcpy(bytes_ + sizeof shared, &size, sizeof size);
  tag_ = kHeapTag;
}

CompactString::CompactString(const CompactString& other) noexcept : tag_(other.tag_) {
  std::memcpy(bytes_, other.bytes_, sizeof bytes_);
  // A new holder needs no ordering: it was handed the block by one that
  // already holds it.
  if (is_heap()) shared()->holders.fetch_add(1, std::memory_order_relaxed);
}

CompactString::CompactString(CompactString&& other) noexcept : tag_(std::exchange(other.tag_, 0)) {
  std::memcpy(bytes_, other.bytes_, sizeof bytes_);
}

CompactString& CompactString::operator=(CompactString other) noexcept {
  swap(other);
  return *this;
}

CompactString::~CompactString() {
  if (!is_heap()) return;
  // The last holder must see every other holder's use of the text finished
  // before it frees it.
  Shared* block = shared();
  if (block->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block->~Shared();
    ::operator delete(block);
  }
}

std::string_view CompactString::view() const noexcept {
  if (is_heap()) return {reinterpret_cast<const char*>(shared() + 1), heap_size()};
  return {bytes_, tag_};
}

bool operator==(const CompactString& a, const CompactString& b) noexcept {
  if (a.shares_storage_with(b) && a.heap_size() == b.heap_size()) return true;
  return a.view() == b.view();
}

CompactString::Shared* CompactString::shared() const noexcept {
  Shared* block;
  std::memcpy(&block, bytes_, sizeof block);
  return block;
}

std::size_t CompactString::heap_size() const noexcept {
  std::size_t size;
  std::memcpy(&size, bytes_ + sizeof(Shared*), sizeof size);
  return size;
}

void CompactString::swap(CompactString& other) noexcept {
  char bytes[kInlineCapacity];
  std::memcpy(bytes, bytes_, sizeof bytes);
  std::memcpy(bytes_, other.bytes_, sizeof bytes);
  std::memcpy(other.bytes_, bytes, sizeof bytes);
  std::swap(tag_, other.tag_);
}

}  // namespace kesu
