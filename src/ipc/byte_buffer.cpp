#include "ipc/byte_buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "base/panic.hpp"

namespace kiv::ipc {
namespace {

std::size_t whole_pages(std::size_t n) {
  static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return (n + page - 1) / page * page;
}

}  // namespace

ByteBuffer::ByteBuffer(std::string_view bytes) {
  if (!reserve(bytes.size())) throw std::bad_alloc();
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  size_ = bytes.size();
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(data_, capacity_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

Status ByteBuffer::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return {};
  const std::size_t length = whole_pages(capacity);
  if (length < capacity) return fail_os(ENOMEM);  // rounding overflowed
  void* mapped = data_ == nullptr
                     ? ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                     : ::mremap(data_, capacity_, length, MREMAP_MAYMOVE);
  if (mapped == MAP_FAILED) return fail_last_os();
  data_ = static_cast<char*>(mapped);
  capacity_ = length;
  return {};
}

void ByteBuffer::set_size(std::size_t size) {
  KIV_ASSERT(size <= capacity_);
  size_ = size;
}

}  // namespace kiv::ipc
