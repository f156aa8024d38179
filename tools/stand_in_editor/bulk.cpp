#include "bulk.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/io.hpp"
#include "base/panic.hpp"
#include "base/unique_fd.hpp"

namespace kiv::stand_in {

std::string bulk_text(std::size_t n) {
  std::string out;
  out.reserve(n);
  char line[32];  // offsets in a block stay far below 15 digits
  for (std::size_t offset = 0; offset < BULK_BLOCK && out.size() < n; offset += 16) {
    std::snprintf(line, sizeof line, "%015zu\n", offset);
    out.append(line, 16);
  }
  while (out.size() < n) out.append(out, 0, std::min(BULK_BLOCK, n - out.size()));
  out.resize(n);
  return out;
}

Result<BulkPayload> BulkPayload::make(std::string_view head, std::size_t n) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  KIV_ASSERT(head.size() < page && BULK_BLOCK % page == 0);
  BulkPayload payload;
  payload.size_ = head.size() + n;

  // From the second page on, the payload repeats with the block's period:
  // every block-sized window after the first page and one block shows the
  // same bytes as the file from `page` on.
  const std::size_t file_size = std::min(payload.size_, page + BULK_BLOCK);
  const std::size_t windows = (payload.size_ - file_size + BULK_BLOCK - 1) / BULK_BLOCK;
  UniqueFd file(::memfd_create("kiv-editor bulk", MFD_CLOEXEC));
  if (file.get() < 0) return fail_last_os();
  KIV_TRY(write_all(file.get(), head, bulk_text(file_size - head.size())));

  payload.mapped_ = file_size + windows * BULK_BLOCK;
  void* reserved = ::mmap(nullptr, payload.mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (reserved == MAP_FAILED) {
    payload.mapped_ = 0;
    return fail_last_os();
  }
  payload.base_ = static_cast<char*>(reserved);
  auto map = [&](std::size_t at, std::size_t length, std::size_t file_offset) {
    return ::mmap(payload.base_ + at, length, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, file.get(),
                  static_cast<off_t>(file_offset)) != MAP_FAILED;
  };
  if (!map(0, file_size, 0)) return fail_last_os();
  for (std::size_t window = 0; window < windows; ++window) {
    if (!map(file_size + window * BULK_BLOCK, BULK_BLOCK, page)) return fail_last_os();
  }
  return payload;
}

BulkPayload::BulkPayload(BulkPayload&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

BulkPayload::~BulkPayload() {
  if (base_ != nullptr) ::munmap(base_, mapped_);
}

}  // namespace kiv::stand_in
