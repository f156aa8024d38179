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

// The storage this thread keeps for its next buffer. Plain data, so that it
// can still be read while the thread's other thread-local objects are being
// destroyed; `closed` once the thread keeps nothing any more.
struct Kept {
  char* data = nullptr;
  std::size_t capacity = 0;
  bool closed = false;
};
constinit thread_local Kept kept;

// Unmaps what the thread kept when the thread ends; made when the thread
// first keeps storage.
struct KeptRelease {
  bool armed = false;
  ~KeptRelease() {
    if (kept.data != nullptr) ::munmap(kept.data, kept.capacity);
    kept = {nullptr, 0, true};
  }
};
thread_local KeptRelease kept_release;

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
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { release(); }

void ByteBuffer::release() noexcept {
  if (data_ == nullptr) return;
  char* data = std::exchange(data_, nullptr);
  std::size_t capacity = std::exchange(capacity_, 0);
  size_ = 0;
  if (kept.data == nullptr && !kept.closed) {
    // Cut back in place: the pages beyond go back to the system at once.
    if (capacity > KEPT_CAPACITY && ::mremap(data, capacity, KEPT_CAPACITY, 0) != MAP_FAILED)
      capacity = KEPT_CAPACITY;
    if (capacity <= KEPT_CAPACITY) {
      kept_release.armed = true;  // its first use: the thread's end now unmaps what is kept
      kept = {data, capacity, false};
      return;
    }
  }
  ::munmap(data, capacity);
}

Status ByteBuffer::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return {};
  if (data_ == nullptr && kept.data != nullptr) {
    data_ = std::exchange(kept.data, nullptr);
    capacity_ = std::exchange(kept.capacity, 0);
    if (capacity <= capacity_) return {};
  }
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
