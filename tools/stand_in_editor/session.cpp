#include "session.hpp"

#include <fcntl.h>
#include <time.h>

#include <optional>
#include <variant>

#include "base/eintr.hpp"
#include "base/io.hpp"
#include "base/overloaded.hpp"
#include "base/text.hpp"
#include "ipc/one_shot_server.hpp"
#include "bulk.hpp"
#include "script.hpp"

namespace kiv::stand_in {
namespace {

using ipc::CliRequest;
using ipc::CliResponse;
using nlohmann::json;

constexpr std::string_view SELF = "kiv-editor stand-in (not the Kiv editor)";

const char* behavior_name(ipc::OpenBehavior behavior) {
  switch (static_cast<int>(behavior)) {
    case 0: return "default";
    case 1: return "new";
    case 3: return "add";
    case 4: return "existing";
    case 5: return "classic";
    case 6: return "reuse";
    default: return "code 2";
  }
}

void sleep_millis(std::uint32_t millis) {
  timespec left{static_cast<time_t>(millis / 1000), static_cast<long>(millis % 1000) * 1000000L};
  (void)retry_on_eintr([&] { return ::nanosleep(&left, &left); });
}

class Session {
 public:
  Session(const Record& record, int number) : record_(record), number_(number) {}

  // Reports a failure at `stage` to the record and to standard error.
  void error(const char* stage, const std::string& text) const {
    record_.write(json{{"event", "error"}, {"session", number_}, {"stage", stage}, {"error", bytes_json(text)}});
    std::string line = "kiv-editor (stand-in): session " + std::to_string(number_) + ": " + stage + ": " + text + "\n";
    (void)write_all(STDERR_FILENO, line);
  }

  Script load_script() const {
    std::string text(DEFAULT_SCRIPT);
    std::string origin = "the default script";
    if (auto path = env_bytes("KIV_STAND_IN_SCRIPT")) {
      origin = "script " + debug_quoted(*path);
      text.clear();
      int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
      Status read = fd < 0 ? Status(fail_last_os()) : read_to_end(fd, text);
      if (fd >= 0) ::close(fd);
      if (!read) return script_failure("cannot read " + origin + ": " + read.error().display());
    }
    auto script = parse_script(text);
    if (!script) return script_failure(origin + ": " + script.error().display());
    return std::move(*script);
  }

  // Runs one directive; false ends the session.
  bool run(const Directive& d, const std::string& server_name) {
    using Kind = Directive::Kind;
    switch (d.kind) {
      case Kind::Sleep: sleep_millis(d.millis); return true;
      case Kind::Handshake: return handshake(d.handshake, server_name);
      case Kind::Receive: return receive();
      case Kind::Describe:
        for (const auto& line : describe(last_request_ ? &*last_request_ : nullptr)) {
          if (!send(*ipc::encode_response(CliResponse{CliResponse::Stdout{line}}))) return false;
        }
        return true;
      case Kind::Send: return d.bulk == 0 ? send(d.payload) : send_bulk(d.payload, d.bulk);
      case Kind::Prompt:
        return send(*ipc::encode_response(CliResponse{CliResponse::PromptOpenBehavior{}})) && receive();
      case Kind::Close:
        if (d.close_requests) requests_.reset();
        if (d.close_responses) responses_.reset();
        return true;
    }
    return false;
  }

  /// Whether the handshake step went as the script asked (also when it said never to connect).
  bool started() const { return started_; }

 private:
  Script script_failure(const std::string& message) const {
    error("script", message);
    return script_error_session("kiv-editor (stand-in): script error: " + message);
  }

  bool handshake(HandshakeMode mode, const std::string& server_name) {
    started_ = true;
    if (mode == HandshakeMode::Never) return true;
    auto connection = ipc::IpcSender::connect(server_name);
    if (!connection) {
      started_ = false;
      error("connect", connection.error().display());
      return false;
    }
    if (mode == HandshakeMode::Silent) return true;
    auto requests = ipc::channel();
    auto responses = ipc::channel();
    if (!requests || !responses) {
      error("handshake", (requests ? responses.error() : requests.error()).display());
      return false;
    }
    Status sent;
    if (mode == HandshakeMode::Normal) {
      sent = ipc::send_handshake(*connection, ipc::Handshake{std::move(requests->sender), std::move(responses->receiver)});
      requests_.emplace(std::move(requests->receiver));
      responses_.emplace(std::move(responses->sender));
    } else {
      const int fds[] = {requests->sender.fd(), responses->receiver.fd()};
      std::string payload = mode == HandshakeMode::Short ? le64(0) : le64(0) + le64(5);
      sent = with_context(connection->send(payload, fds), "io error");
    }
    if (!sent) error("handshake", sent.error().display());
    return sent.has_value();
  }

  bool receive() {
    auto message = with_context(requests_->receive(), "io error");
    if (!message) {
      error("receive", message.error().display());
      return false;
    }
    auto request = ipc::decode_request(message->payload);
    if (!request) {
      error("receive", request.error().display());
      return false;
    }
    record_.write(json{{"event", "request"},
                       {"session", number_},
                       {"size", message->payload.size()},
                       {"request", request_json(*request)}});
    last_request_ = std::move(*request);
    return true;
  }

  bool send(std::string_view payload) {
    Status sent = with_context(responses_->send(payload), "io error");
    if (!sent) error("send", sent.error().display());
    return sent.has_value();
  }

  bool send_bulk(std::string_view head, std::size_t n) {
    auto payload = BulkPayload::make(head, n);
    if (!payload) {
      error("send", payload.error().display());
      return false;
    }
    return send(payload->bytes());
  }

  const Record& record_;
  int number_;
  bool started_ = false;
  std::optional<ipc::IpcReceiver> requests_;
  std::optional<ipc::IpcSender> responses_;
  std::optional<CliRequest> last_request_;
};

}  // namespace

bool run_session(const Record& record, int number, const std::string& url, const char* via) {
  record.write(json{{"event", "session"}, {"session", number}, {"url", bytes_json(url)}, {"via", via}});
  Session session(record, number);
  Script script = session.load_script();
  auto server_name = ipc::server_name_from_handover_url(url);
  bool started = server_name.has_value();
  if (!server_name) {
    session.error("url", "not a hand-over URL: " + debug_quoted(url));
  } else {
    for (const Directive& d : script.directives) {
      if (!session.run(d, *server_name)) break;
    }
    started = session.started();
  }
  record.write(json{{"event", "session_end"}, {"session", number}});
  return started;
}

std::vector<std::string> describe(const CliRequest* request) {
  std::vector<std::string> lines;
  if (request == nullptr) {
    lines.push_back(std::string(SELF) + ": no request received");
    return lines;
  }
  std::visit(Overloaded{
                 [&lines](const CliRequest::Open& open) {
                   lines.push_back(std::string(SELF) + ": received an open request; nothing is opened");
                   for (const auto& path : open.paths) lines.push_back("path: " + path);
                   for (const auto& url : open.urls) lines.push_back("url: " + url);
                   for (const auto& pair : open.diff_paths)
                     lines.push_back("diff: " + pair.old_path + " -> " + pair.new_path);
                   if (open.diff_has_directory) lines.push_back("diff has a directory: yes");
                   lines.push_back(std::string("open behavior: ") + behavior_name(open.open_behavior));
                   lines.push_back(std::string("wait: ") + (open.wait ? "yes" : "no"));
                   if (open.user_data_dir) lines.push_back("user data dir: " + *open.user_data_dir);
                   if (open.dev_container) lines.push_back("dev container: yes");
                   if (open.cwd) lines.push_back("working directory: " + *open.cwd);
                   if (open.env) lines.push_back("environment: " + std::to_string(open.env->size()) + " variables");
                 },
                 [&lines](const CliRequest::SetOpenBehavior& set) {
                   lines.push_back(std::string(SELF) + ": received the default open behavior: " +
                                   (set.choice == ipc::DefaultOpenBehavior::NewWindow ? "new window"
                                                                                       : "existing window"));
                 },
                 [&lines](const CliRequest::DebugState&) {
                   lines.push_back(std::string(SELF) + ": received a debug-state request; it has no state to show");
                 },
             },
             request->value);
  return lines;
}

}  // namespace kiv::stand_in
