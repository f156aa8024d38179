#include "cli/open_args.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/fs.hpp"
#include "base/text.hpp"

namespace kiv {
namespace {

constexpr std::string_view kProcSelfFd = "/proc/self/fd/";

// memfd descriptors show in /proc as "/memfd:NAME (deleted)". A regular file
// could be named like that, so the kernel is asked too: only shmem files
// answer F_GET_SEALS, and only memfds are shown with that prefix.
bool names_memfd(int fd, std::string_view link_target) {
  return link_target.starts_with("/memfd:") && ::fcntl(fd, F_GET_SEALS) >= 0;
}

}  // namespace

bool has_url_prefix(std::string_view argument) {
  for (std::string_view prefix : URL_PREFIXES)
    if (argument.starts_with(prefix)) return true;
  return false;
}

bool diff_pairs_contain_dir(const std::vector<std::string>& values) {
  for (const std::string& value : values)
    if (is_directory(value)) return true;
  return false;
}

std::optional<int> proc_self_fd_number(std::string_view argument) {
  if (!argument.starts_with(kProcSelfFd)) return std::nullopt;
  std::string_view rest = argument.substr(kProcSelfFd.size());
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  auto magnitude = parse_ascii_decimal(rest, static_cast<std::uint64_t>(INT_MAX) + (negative ? 1 : 0));
  if (!magnitude) return std::nullopt;
  auto value = static_cast<long long>(*magnitude);
  return static_cast<int>(negative ? -value : value);
}

std::optional<UniqueFd> anonymous_fd_from_path(const std::string& argument) {
  auto fd = proc_self_fd_number(argument);
  if (!fd || argument.find('\0') != std::string::npos) return std::nullopt;
  char target[PATH_MAX];
  ssize_t n = ::readlink(argument.c_str(), target, sizeof target);
  if (n < 0) return std::nullopt;
  if (!names_memfd(*fd, std::string_view(target, static_cast<size_t>(n)))) return std::nullopt;
  // kiv owns it from here; an editor started meanwhile must not inherit it.
  ::fcntl(*fd, F_SETFD, ::fcntl(*fd, F_GETFD) | FD_CLOEXEC);
  return UniqueFd(*fd);
}

}  // namespace kiv
