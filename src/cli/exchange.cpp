#include "cli/exchange.hpp"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "prompt/open_behavior_prompt.hpp"

namespace kiv {
namespace {

ipc::CliRequest build_request(CliReceiverContext& context, std::optional<std::string> cwd) {
  if (context.debug_state) return {ipc::CliRequest::DebugState{}};
  return {ipc::CliRequest::Open{
      .paths = std::move(context.paths),
      .urls = std::move(context.urls),
      .diff_paths = std::move(context.diff_paths),
      .diff_has_directory = context.diff_has_directory,
      .reserved_text = std::nullopt,
      .wait = context.wait,
      .open_behavior = context.open_behavior,
      .env = std::move(context.env),
      .user_data_dir = std::move(context.user_data_dir),
      .dev_container = context.dev_container,
      .cwd = std::move(cwd),
  }};
}

// One gathered write per message, its newline included, straight from the
// received payload. A stream nobody reads any more is no reason to stop the
// editor's work.
void relay(int fd, std::string_view message) { (void)write_all(fd, message, "\n"); }

// Writes a Stdout or Stderr response to its stream; false for any other.
bool relay_output(const ipc::CliResponseView& response) {
  if (auto* out = std::get_if<ipc::CliResponseView::Stdout>(&response.value)) {
    relay(STDOUT_FILENO, out->message);
    return true;
  }
  if (auto* err = std::get_if<ipc::CliResponseView::Stderr>(&response.value)) {
    relay(STDERR_FILENO, err->message);
    return true;
  }
  return false;
}

// Whether a failed send means the editor has closed its end of the requests
// channel (it may still have queued responses for us).
bool editor_gone(const Error& error) {
  auto code = error.os_code();
  return code && (*code == EPIPE || *code == ECONNRESET);
}

// After a send failed because the editor closed its request end, what it
// sent before closing is still queued on the responses channel: relay it,
// and take its Exit if it sent one, so that a status the editor reported is
// never lost. Without an Exit the failed send stays the result.
Status drain_after_failed_send(CliReceiverContext& context, const ipc::IpcReceiver& responses, Error send_error) {
  for (;;) {
    ipc::IpcMessage received;
    auto response = ipc::receive_response_view(responses, received);
    if (!response) return fail(std::move(send_error));
    if (relay_output(*response)) continue;
    if (auto* exit = std::get_if<ipc::CliResponseView::Exit>(&response->value)) {
      context.exit_status_slot->store(exit->status);
      return {};
    }
    // A question asked of a kiv that can no longer answer is passed over.
  }
}

}  // namespace

ipc::DefaultOpenBehavior choose_default_open_behavior() {
  return ask_open_behavior() == 0 ? ipc::DefaultOpenBehavior::ExistingWindow : ipc::DefaultOpenBehavior::NewWindow;
}

Status run_cli_receiver(CliReceiverContext context) {
  constexpr const char* kAfterSpawn = "Handshake after Kiv spawn";
  // The editor's connection and its Handshake; the connection closes
  // as soon as the Handshake is read.
  KIV_TRY_ASSIGN(auto accepted, with_context(std::move(context.one_shot_server).accept(), kAfterSpawn));
  auto handshake = with_context(ipc::decode_handshake(std::move(accepted.second)), kAfterSpawn);
  accepted.first = ipc::IpcReceiver(UniqueFd());
  if (!handshake) return std::unexpected(std::move(handshake).error());

  // The request, with the working directory when it can be read.
  std::optional<std::string> cwd;
  if (auto dir = current_dir()) cwd = std::move(*dir);
  if (auto sent = ipc::send_request(handshake->requests, build_request(context, std::move(cwd))); !sent) {
    if (!editor_gone(sent.error())) return sent;
    return drain_after_failed_send(context, handshake->responses, std::move(sent.error()));
  }

  // Relay until Exit or until the channel closes or garbles.
  for (;;) {
    ipc::IpcMessage received;  // holds the text of a Stdout or Stderr until it is written
    auto response = ipc::receive_response_view(handshake->responses, received);
    if (!response) return {};
    if (relay_output(*response)) continue;
    if (auto* exit = std::get_if<ipc::CliResponseView::Exit>(&response->value)) {
      context.exit_status_slot->store(exit->status);
      return {};
    } else if (std::holds_alternative<ipc::CliResponseView::PromptOpenBehavior>(response->value)) {
      auto sent = ipc::send_request(handshake->requests,
                                    {ipc::CliRequest::SetOpenBehavior{.choice = choose_default_open_behavior()}});
      if (!sent) {
        if (!editor_gone(sent.error())) return sent;
        return drain_after_failed_send(context, handshake->responses, std::move(sent.error()));
      }
    }
  }
}

JoinHandle<Status> spawn_cli_receiver(CliReceiverContext context) {
  auto owned = std::make_shared<CliReceiverContext>(std::move(context));
  return spawn_named_thread<Status>("CliReceiver", [owned] { return run_cli_receiver(std::move(*owned)); });
}

}  // namespace kiv
