// Temporary files and directories: ".tmp" plus six random letters and digits
// in the system temporary directory. Every part of kiv that makes one uses
// this module.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "base/unique_fd.hpp"

namespace kiv {

/// The system temporary directory as an absolute path: TMPDIR when set (any
/// value; a relative or empty one is taken from the working directory), else
/// /tmp. Fails only when the working directory is needed and cannot be read.
[[nodiscard]] Result<std::string> temp_base_dir();

/// ".tmp" followed by six random characters of [A-Za-z0-9].
std::string random_temp_name();

/// A new file, created exclusively with mode 0600 and open for reading and
/// writing. It is removed when the handle goes away unless it was kept.
class TempFile {
 public:
  /// Creates the file in temp_base_dir(). A failure reads
  /// "{os error} at path \"{path tried}\"".
  [[nodiscard]] static Result<TempFile> create();
  [[nodiscard]] static Result<TempFile> create_in(const std::string& dir);

  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&&) noexcept;
  ~TempFile();

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }

  /// Makes the file persistent: it is released without removal and the
  /// caller gets its open descriptor. Cannot fail.
  UniqueFd keep();

 private:
  TempFile(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
  void remove_now();

  std::string path_;
  UniqueFd fd_;
  bool owned_ = true;
};

/// Who may enter a new directory.
enum class DirAccess {
  Umask,      // mode 0777 before the umask
  OwnerOnly,  // mode 0700 whatever the umask
};

/// A new directory. It is removed with everything in it when the handle
/// goes away unless it was kept.
class TempDir {
 public:
  /// Creates the directory in temp_base_dir(). A failure reads
  /// "{os error} at path \"{path tried}\"".
  [[nodiscard]] static Result<TempDir> create(DirAccess access = DirAccess::Umask);
  [[nodiscard]] static Result<TempDir> create_in(const std::string& dir, DirAccess access = DirAccess::Umask);

  TempDir(TempDir&& other) noexcept;
  TempDir& operator=(TempDir&& other) noexcept;
  ~TempDir();

  const std::string& path() const { return path_; }

  /// Makes the directory persistent: released without removal; returns its path.
  std::string keep();

 private:
  explicit TempDir(std::string path) : path_(std::move(path)) {}
  void remove_now();

  std::string path_;
  bool owned_ = true;
};

/// Whether SIGINT, SIGTERM and SIGHUP remove a PrivateFileDir before they
/// end the process.
enum class OnSignals { Leave, Remove };

/// A new directory for one file, `file()`, that only its owner can enter
/// (mode 0700 whatever the umask), so that no other user can put anything in
/// the file's place. The file and the directory are removed when the handle
/// goes, or earlier with remove_now(). With OnSignals::Remove, SIGINT,
/// SIGTERM and SIGHUP remove both before they end the process as usual, from
/// the moment the directory exists (one that comes while create() runs waits
/// until then) until they are removed; for one such directory at a time,
/// created while no other thread takes these signals.
class PrivateFileDir {
 public:
  /// Fails with TempDir's error, or (OnSignals::Remove) when the path is too
  /// long to prepare for the signal handler.
  [[nodiscard]] static Result<PrivateFileDir> create(std::string_view file_name, OnSignals on_signals);

  PrivateFileDir(PrivateFileDir&& other) noexcept;
  PrivateFileDir& operator=(PrivateFileDir&& other) noexcept;
  ~PrivateFileDir() { remove_now(); }

  /// The file's absolute path; empty once removed.
  const std::string& file() const { return file_; }

  /// Removes the file and the directory (the handle's TempDir takes anything
  /// else found in it) and stops the signals from doing so.
  void remove_now();

 private:
  PrivateFileDir(TempDir dir, std::string file) : dir_(std::move(dir)), file_(std::move(file)) {}

  TempDir dir_;
  std::string file_;
  bool removed_on_signals_ = false;
};

}  // namespace kiv
