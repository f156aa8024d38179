#include "record.hpp"

#include <fcntl.h>

#include <variant>

#include "base/io.hpp"
#include "base/overloaded.hpp"
#include "base/text.hpp"

namespace kiv::stand_in {
namespace {

using ipc::CliRequest;
using nlohmann::json;

json optional_text(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

json pairs_json(const ipc::EnvEntries& entries) {
  json out = json::array();
  for (const auto& [name, value] : entries) out.push_back(json::array({name, value}));
  return out;
}

json pairs_json(const std::vector<ipc::DiffPair>& pairs) {
  json out = json::array();
  for (const auto& pair : pairs) out.push_back(json::array({pair.old_path, pair.new_path}));
  return out;
}

}  // namespace

Result<Record> Record::open_from_env() {
  auto path = env_bytes("KIV_STAND_IN_RECORD");
  if (!path) return Record(UniqueFd());
  int fd = ::open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot open the record " + debug_quoted(*path) + ": " + Error::last_os().display());
  return Record(UniqueFd(fd));
}

void Record::write(const json& event) const {
  if (!fd_) return;
  (void)write_all(fd_.get(), event.dump() + "\n");
}

json bytes_json(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return json(std::string(bytes));
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return json{{"hex", hex}};
}

json request_json(const CliRequest& request) {
  return std::visit(Overloaded{
                        [](const CliRequest::Open& open) {
                          return json{
                              {"kind", "Open"},
                              {"paths", open.paths},
                              {"urls", open.urls},
                              {"diff_paths", pairs_json(open.diff_paths)},
                              {"diff_has_directory", open.diff_has_directory},
                              {"reserved_text", optional_text(open.reserved_text)},
                              {"wait", open.wait},
                              {"open_behavior", static_cast<int>(open.open_behavior)},
                              {"env", open.env ? pairs_json(*open.env) : json(nullptr)},
                              {"user_data_dir", optional_text(open.user_data_dir)},
                              {"dev_container", open.dev_container},
                              {"cwd", optional_text(open.cwd)},
                          };
                        },
                        [](const CliRequest::SetOpenBehavior& set) {
                          return json{{"kind", "SetOpenBehavior"}, {"choice", static_cast<int>(set.choice)}};
                        },
                        [](const CliRequest::DebugState&) { return json{{"kind", "DebugState"}}; },
                    },
                    request.value);
}

}  // namespace kiv::stand_in
