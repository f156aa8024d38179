#include "tempfs/temp.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "base/eintr.hpp"
#include "base/fs.hpp"
#include "base/signal_cleanup.hpp"
#include "base/text.hpp"

namespace kiv {
namespace {

// A name collision is astronomically rare (62^6 names); this only bounds the
// loop should something keep answering EEXIST.
constexpr int kMaxAttempts = 1 << 16;

Error path_error(int errnum, const std::string& path) {
  return Error(Error::os(errnum).display() + " at path " + debug_quoted(path));
}

template <class Make>
Result<std::string> make_unique(const std::string& dir, Make make) {
  std::string path;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    path = join_path(dir, random_temp_name());
    if (make(path)) return path;
    if (errno != EEXIST) return fail(path_error(errno, path));
  }
  return fail(path_error(EEXIST, path));
}

}  // namespace

Result<std::string> temp_base_dir() {
  auto tmpdir = env_bytes("TMPDIR");
  std::string base = tmpdir ? *tmpdir : std::string("/tmp");
  if (!base.empty() && base.front() == '/') return base;
  KIV_TRY_ASSIGN(std::string absolute, current_dir());
  if (base.empty()) return absolute;
  return join_path(absolute, base);
}

std::string random_temp_name() {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  size_t got = 0;
  while (got < sizeof random) {
    ssize_t n = retry_on_eintr([&] { return ::getrandom(random + got, sizeof random - got, 0); });
    if (n < 0) {
      // getrandom cannot fail on any kernel kiv supports; fall back to
      // something still varied rather than stopping.
      for (; got < sizeof random; ++got) random[got] = static_cast<unsigned char>(std::rand());
      break;
    }
    got += static_cast<size_t>(n);
  }
  std::string name = ".tmp";
  for (unsigned char r : random) name += alphabet[r % 62];
  return name;
}

Result<TempFile> TempFile::create() {
  KIV_TRY_ASSIGN(std::string base, temp_base_dir());
  return create_in(base);
}

Result<TempFile> TempFile::create_in(const std::string& dir) {
  int fd = -1;
  KIV_TRY_ASSIGN(std::string path, make_unique(dir, [&](const std::string& candidate) {
                   fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                   return fd >= 0;
                 }));
  return TempFile(std::move(path), UniqueFd(fd));
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), owned_(std::exchange(other.owned_, false)) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    remove_now();
    path_ = std::move(other.path_);
    fd_ = std::move(other.fd_);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

TempFile::~TempFile() { remove_now(); }

void TempFile::remove_now() {
  if (owned_ && !path_.empty()) ::unlink(path_.c_str());
  owned_ = false;
}

UniqueFd TempFile::keep() {
  owned_ = false;
  return std::move(fd_);
}

Result<TempDir> TempDir::create(DirAccess access) {
  KIV_TRY_ASSIGN(std::string base, temp_base_dir());
  return create_in(base, access);
}

Result<TempDir> TempDir::create_in(const std::string& dir, DirAccess access) {
  const bool owner_only = access == DirAccess::OwnerOnly;
  KIV_TRY_ASSIGN(std::string path, make_unique(dir, [&](const std::string& candidate) {
                   if (::mkdir(candidate.c_str(), owner_only ? 0700 : 0777) != 0) return false;
                   // The umask only takes bits away: nobody else can enter in
                   // between, and the owner gets back any bit it took.
                   if (owner_only && ::chmod(candidate.c_str(), 0700) != 0) {
                     const int err = errno;
                     ::rmdir(candidate.c_str());
                     errno = err;
                     return false;
                   }
                   return true;
                 }));
  return TempDir(std::move(path));
}

TempDir::TempDir(TempDir&& other) noexcept
    : path_(std::move(other.path_)), owned_(std::exchange(other.owned_, false)) {}

TempDir& TempDir::operator=(TempDir&& other) noexcept {
  if (this != &other) {
    remove_now();
    path_ = std::move(other.path_);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

TempDir::~TempDir() { remove_now(); }

void TempDir::remove_now() {
  if (owned_ && !path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  owned_ = false;
}

std::string TempDir::keep() {
  owned_ = false;
  return path_;
}

Result<PrivateFileDir> PrivateFileDir::create(std::string_view file_name, OnSignals on_signals) {
  // The signals wait from before the directory exists until its removal is
  // armed: one that came in between would leave the directory behind.
  std::optional<TerminationSignalsHeld> held;
  if (on_signals == OnSignals::Remove) held.emplace();
  KIV_TRY_ASSIGN(TempDir dir, TempDir::create(DirAccess::OwnerOnly));
  std::string file = join_path(dir.path(), file_name);
  // Owned from here: a failure below removes the directory.
  PrivateFileDir made(std::move(dir), std::move(file));
  if (on_signals == OnSignals::Remove) {
    KIV_TRY(arm_termination_cleanup(made.file_, made.dir_.path()));
    made.removed_on_signals_ = true;
  }
  return made;
}

PrivateFileDir::PrivateFileDir(PrivateFileDir&& other) noexcept
    : dir_(std::move(other.dir_)),
      file_(std::exchange(other.file_, {})),
      removed_on_signals_(std::exchange(other.removed_on_signals_, false)) {}

PrivateFileDir& PrivateFileDir::operator=(PrivateFileDir&& other) noexcept {
  if (this != &other) {
    remove_now();
    dir_ = std::move(other.dir_);
    file_ = std::exchange(other.file_, {});
    removed_on_signals_ = std::exchange(other.removed_on_signals_, false);
  }
  return *this;
}

void PrivateFileDir::remove_now() {
  if (file_.empty()) return;
  // The directory holds the file alone: two calls remove both. Should
  // anything else have appeared in it, dir_ removes the whole tree instead.
  ::unlink(file_.c_str());
  if (::rmdir(dir_.path().c_str()) == 0) (void)dir_.keep();
  file_.clear();
  if (removed_on_signals_) disarm_termination_cleanup();
  removed_on_signals_ = false;
}

}  // namespace kiv
