#include "cli/exchange.hpp"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/overloaded.hpp"
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

// Whether a failed send means the editor has closed its end of the requests
// channel (it may still have queued responses for us).
bool editor_gone(const Error& error) {
  auto code = error.os_code();
  return code && (*code == EPIPE || *code == ECONNRESET);
}

enum class Exchange { GoesOn, Ended };

// What one response means, the same in the relay and in the drain after a
// failed send: output goes to its stream, an Exit is stored and ends the
// exchange, and the open-behaviour question is answered on `requests`, or
// passed over while draining (nullptr: kiv can no longer answer). The error
// is that of sending the answer.
Result<Exchange> handle_response(CliReceiverContext& context, const ipc::CliResponseView& response,
                                 const ipc::IpcSender* requests) {
  return std::visit(
      Overloaded{
          [](const ipc::CliResponseView::Ignored&) -> Result<Exchange> { return Exchange::GoesOn; },
          [](const ipc::CliResponseView::Stdout& text) -> Result<Exchange> {
            relay(STDOUT_FILENO, text.message);
            return Exchange::GoesOn;
          },
          [](const ipc::CliResponseView::Stderr& text) -> Result<Exchange> {
            relay(STDERR_FILENO, text.message);
            return Exchange::GoesOn;
          },
          [&context](const ipc::CliResponseView::Exit& exit) -> Result<Exchange> {
            context.exit_status_slot->store(exit.status);
            return Exchange::Ended;
          },
          [requests](const ipc::CliResponseView::PromptOpenBehavior&) -> Result<Exchange> {
            if (requests == nullptr) return Exchange::GoesOn;
            KIV_TRY(ipc::send_request(*requests, {ipc::CliRequest::SetOpenBehavior{choose_default_open_behavior()}}));
            return Exchange::GoesOn;
          },
      },
      response.value);
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
    if (handle_response(context, *response, nullptr) == Exchange::Ended) return {};
  }
}

// A failed send ends the exchange with its error, unless the editor has only
// closed its request end: then what it queued before is still taken.
Status after_failed_send(CliReceiverContext& context, const ipc::IpcReceiver& responses, Error send_error) {
  if (!editor_gone(send_error)) return fail(std::move(send_error));
  return drain_after_failed_send(context, responses, std::move(send_error));
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
  auto handshake = with_context(ipc::decode_handshake(std::move(accepted.first_message)), kAfterSpawn);
  accepted.connection = ipc::IpcReceiver(UniqueFd());
  if (!handshake) return std::unexpected(std::move(handshake).error());

  // The request, with the working directory when it can be read.
  std::optional<std::string> cwd;
  if (auto dir = current_dir()) cwd = std::move(*dir);
  if (auto sent = ipc::send_request(handshake->requests, build_request(context, std::move(cwd))); !sent)
    return after_failed_send(context, handshake->responses, std::move(sent).error());

  // Relay until Exit or until the channel closes or garbles.
  for (;;) {
    ipc::IpcMessage received;  // holds the text of a Stdout or Stderr until it is written
    auto response = ipc::receive_response_view(handshake->responses, received);
    if (!response) return {};
    auto handled = handle_response(context, *response, &handshake->requests);
    if (!handled) return after_failed_send(context, handshake->responses, std::move(handled).error());
    if (*handled == Exchange::Ended) return {};
  }
}

JoinHandle<Status> spawn_cli_receiver(CliReceiverContext context) {
  return spawn_named_thread("CliReceiver",
                            [context = std::move(context)]() mutable { return run_cli_receiver(std::move(context)); });
}

}  // namespace kiv
