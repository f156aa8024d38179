#include "cli/dir_diff.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "base/fs.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"

namespace kiv {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::unexpected<Error> walk_error(int errnum, const std::string& path) {
  return with_context(fail_os(errnum), "IO error for operation on " + path);
}

// Reads one directory (opened without following a link unless it is the
// root) and appends its regular files to `files` and its subdirectories to
// `subdirs`, both as paths relative to the root.
Status read_directory(const std::string& root, const std::string& relative, bool is_root,
                      std::vector<std::string>& files, std::vector<std::string>& subdirs) {
  std::string path = is_root ? root : join_path(root, relative);
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (is_root ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd) return walk_error(errno, path);
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd.get()));
  if (!dir) return walk_error(errno, path);
  fd.release();  // owned by `dir` from here
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return walk_error(errno, path);
      return {};
    }
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return walk_error(errno, join_path(path, name));
      type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
    }
    if (type != DT_REG && type != DT_DIR) continue;
    std::string child = join_path(relative, name);
    (type == DT_REG ? files : subdirs).push_back(std::move(child));
  }
}

}  // namespace

bool path_order_less(std::string_view a, std::string_view b) {
  // Component-wise order equals byte order with the separator below every
  // other byte, since no component holds a NUL byte.
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (ca == cb) continue;
    if (ca == '/') return true;
    if (cb == '/') return false;
    return ca < cb;
  }
  return a.size() < b.size();
}

Result<std::vector<std::string>> collect_dir_files(const std::string& root) {
  std::vector<std::string> files;
  // Depth first, one directory handle open at a time.
  std::vector<std::string> pending;
  KIV_TRY(read_directory(root, "", true, files, pending));
  while (!pending.empty()) {
    std::string relative = std::move(pending.back());
    pending.pop_back();
    KIV_TRY(read_directory(root, relative, false, files, pending));
  }
  std::sort(files.begin(), files.end(), path_order_less);
  return files;
}

// Every step below the placeholder directory is taken from the descriptor of
// the directory above it and follows no link, so that nothing put inside can
// lead a placeholder elsewhere.
Result<std::string> create_placeholder_file(const std::string& directory, const std::string& relative) {
  constexpr int kWalk = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd parent(::open(directory.c_str(), kWalk));
  if (!parent) return fail_last_os();
  std::string_view rest = relative;
  for (size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest.remove_prefix(slash + 1)) {
    if (slash == 0) continue;
    const std::string name(rest.substr(0, slash));
    if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return fail_last_os();
    UniqueFd child(::openat(parent.get(), name.c_str(), kWalk));
    // A link or a file where the directory should be: mkdir's own answer,
    // as for any name taken by something that is not a directory.
    if (!child) return fail_os(errno == ENOTDIR ? EEXIST : errno);
    parent = std::move(child);
  }
  UniqueFd fd(::openat(parent.get(), std::string(rest).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                       0666));
  if (!fd) return fail_last_os();
  return join_path(directory, relative);
}

Result<ExpandedDiffs> expand_dir_diffs(std::vector<DiffPair> pairs) {
  ExpandedDiffs out;
  for (auto& pair : pairs) {
    const std::string& old_root = pair.old_path;
    const std::string& new_root = pair.new_path;
    if (!is_directory(old_root) || !is_directory(new_root)) {
      out.pairs.push_back(std::move(pair));
      continue;
    }
    KIV_TRY_ASSIGN(std::vector<std::string> old_files, collect_dir_files(old_root));
    KIV_TRY_ASSIGN(std::vector<std::string> new_files, collect_dir_files(new_root));
    // Only kiv's own user may enter it: the placeholders outlive kiv and
    // the editor opens them. On any failure below, `dir` and the handles
    // already in `out` are released with their contents.
    KIV_TRY_ASSIGN(TempDir dir, TempDir::create(DirAccess::OwnerOnly));
    bool made_placeholder = false;
    size_t i = 0, j = 0;
    while (i < old_files.size() || j < new_files.size()) {
      bool take_old = j == new_files.size() || (i < old_files.size() && !path_order_less(new_files[j], old_files[i]));
      bool take_new = i == old_files.size() || (j < new_files.size() && !path_order_less(old_files[i], new_files[j]));
      if (take_old && take_new) {
        out.pairs.push_back({utf8_lossy(join_path(old_root, old_files[i])), utf8_lossy(join_path(new_root, new_files[j]))});
        ++i;
        ++j;
      } else if (take_old) {
        KIV_TRY_ASSIGN(std::string placeholder, create_placeholder_file(dir.path(), old_files[i]));
        out.pairs.push_back({utf8_lossy(join_path(old_root, old_files[i])), utf8_lossy(placeholder)});
        made_placeholder = true;
        ++i;
      } else {
        KIV_TRY_ASSIGN(std::string placeholder, create_placeholder_file(dir.path(), new_files[j]));
        out.pairs.push_back({utf8_lossy(placeholder), utf8_lossy(join_path(new_root, new_files[j]))});
        made_placeholder = true;
        ++j;
      }
    }
    if (made_placeholder) out.placeholder_dirs.push_back(std::move(dir));
  }
  return out;
}

}  // namespace kiv
