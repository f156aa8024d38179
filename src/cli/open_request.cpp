#include "cli/open_request.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <set>

#include "base/text.hpp"
#include "cli/dir_diff.hpp"
#include "cli/open_args.hpp"
#include "tempfs/temp.hpp"
#include "util/path_with_position.hpp"

namespace kiv {
namespace {

bool metadata_readable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A --diff side passes when it exists as written or, written with a
// position, when the file itself exists.
bool diff_side_exists(const std::string& side) {
  return metadata_readable(side) || metadata_readable(PathWithPosition::parse_str(side).path);
}

// A temporary file for content that arrives through a descriptor: listed by
// its path, kept on disk, its descriptor handed back for the copy thread.
Result<UniqueFd> kept_temp_file(std::vector<std::string>& paths) {
  KIV_TRY_ASSIGN(TempFile file, TempFile::create());
  paths.push_back(path_to_string_lossy(file.path()));
  return file.keep();
}

}  // namespace

ipc::OpenBehavior open_behavior_from_flags(const ArgsKind& args) {
  if (args.new_) return ipc::OpenBehavior::New;
  if (args.add) return ipc::OpenBehavior::Add;
  if (args.existing) return ipc::OpenBehavior::Existing;
  if (args.classic) return ipc::OpenBehavior::Classic;
  if (args.reuse) return ipc::OpenBehavior::Reuse;
  return ipc::OpenBehavior::Default;
}

Result<OpenRequest> assemble_open_request(const ArgsKind& args, bool stdout_is_terminal) {
  // The rendezvous the editor calls back on, and the URL naming it.
  // Interrupted while it waits for the editor, kiv leaves no socket behind.
  auto server = with_context(ipc::IpcOneShotServer::create(ipc::IpcOneShotServer::OnInterrupt::RemoveSocket),
                             "Handshake before Kiv spawn");
  if (!server) return std::unexpected(std::move(server).error());
  std::string url = ipc::handover_url(server->name);

  OpenRequest request{
      .context =
          CliReceiverContext{
              .paths = {},
              .urls = {},
              .diff_paths = {},
              .user_data_dir = args.user_data_dir,
              .one_shot_server = std::move(server->server),
              // The slot starts empty.
              .exit_status_slot = std::make_shared<ExitStatusSlot>(),
              .env = std::nullopt,
              .diff_has_directory = false,
              .wait = args.wait,
              .debug_state = args.debug_state,
              .dev_container = args.dev_container,
              // The open behaviour.
              .open_behavior = open_behavior_from_flags(args),
          },
      .url = std::move(url),
      .stdin_target = std::nullopt,
      .relay_pairs = {},
  };
  CliReceiverContext& context = request.context;

  // The environment, as it stands after kiv's own changes.
  if (stdout_is_terminal) {
    ipc::EnvEntries entries;
    for (auto& [name, value] : capture_environment()) entries.emplace_back(name, std::move(value));
    context.env = std::move(entries);
  }

  // Directories among the --diff values as typed.
  context.diff_has_directory = diff_pairs_contain_dir(args.diff);

  // Each pair parsed on both sides, then tested.
  std::vector<DiffPair> diff_pairs;
  for (size_t i = 0; i + 1 < args.diff.size(); i += 2) {
    KIV_TRY_ASSIGN(std::string old_side, parse_path_with_position(args.diff[i]));
    KIV_TRY_ASSIGN(std::string new_side, parse_path_with_position(args.diff[i + 1]));
    for (const std::string* side : {&old_side, &new_side})
      if (!diff_side_exists(*side)) return fail("--diff path does not exist: " + *side);
    diff_pairs.push_back({std::move(old_side), std::move(new_side)});
  }

  // Directory pairs become per-file pairs; their placeholders stay.
  KIV_TRY_ASSIGN(ExpandedDiffs expanded, expand_dir_diffs(std::move(diff_pairs)));
  for (TempDir& dir : expanded.placeholder_dirs) dir.keep();
  context.diff_paths = std::move(expanded.pairs);

  // The positional arguments, in order.
  const auto& positional = args.paths_with_position;
  // The memory-file descriptors the request owns so far: a later mention of
  // one of them must not take it over a second time.
  std::set<int> owned;
  for (const std::string& argument : positional) {
    if (has_url_prefix(argument)) {
      context.urls.push_back(argument);
    } else if (argument == "-" && positional.size() == 1) {
      KIV_TRY_ASSIGN(UniqueFd target, kept_temp_file(context.paths));
      request.stdin_target = std::move(target);
    } else if (auto source = anonymous_fd_from_path(argument)) {
      // The same descriptor named twice must not be owned (and closed) twice,
      // nor read by two threads sharing one file position: a later mention
      // reads the memory file afresh through its own open description.
      if (owned.contains(source->get())) {
        source->release();
        source = UniqueFd(::open(argument.c_str(), O_RDONLY | O_CLOEXEC));
        if (!*source) return fail_last_os();
      }
      KIV_TRY_ASSIGN(UniqueFd destination, kept_temp_file(context.paths));
      // The reopened descriptor is a memory file too and may have taken a
      // number that a later argument names.
      owned.insert(source->get());
      request.relay_pairs.push_back(RelayPair{std::move(*source), std::move(destination)});
    } else {
      KIV_TRY_ASSIGN(std::string resolved, parse_path_with_position(argument));
      context.paths.push_back(std::move(resolved));
    }
  }

  // Dev servers are gone; said only once everything else was fine.
  if (args.dev_server_token)
    return fail(std::string("Dev servers were removed in v0.157.x please upgrade to SSH remoting: ") +
                REMOTE_DEVELOPMENT_DOCS);
  return request;
}

}  // namespace kiv
