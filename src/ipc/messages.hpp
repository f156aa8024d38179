// The messages between kiv and the editor: the editor's Handshake, kiv's
// requests and the editor's responses, with their byte encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/error.hpp"
#include "ipc/channel.hpp"

namespace kiv::ipc {

/// The requested open behaviour. One byte in memory, a u32 on the wire; code
/// 2 has no name here because kiv never sends it (a decoded request may hold it).
enum class OpenBehavior : std::uint8_t {
  Default = 0,
  New = 1,
  Add = 3,
  Existing = 4,
  Classic = 5,
  Reuse = 6,
};

/// The answer to CliResponse::PromptOpenBehavior.
enum class DefaultOpenBehavior : std::uint8_t {
  ExistingWindow = 0,
  NewWindow = 1,
};

/// Environment entries in the order they were captured (the wire keeps the
/// order of its map and says nothing against repeated keys).
using EnvEntries = std::vector<std::pair<std::string, std::string>>;

/// One pair of a diff: its old side and its new side.
struct DiffPair {
  std::string old_path;
  std::string new_path;
  friend bool operator==(const DiffPair&, const DiffPair&) = default;
};

/// kiv's messages to the editor, on the Handshake::requests channel. No
/// request carries a descriptor.
struct CliRequest {
  struct Open {
    std::vector<std::string> paths;
    std::vector<std::string> urls;
    std::vector<DiffPair> diff_paths;
    bool diff_has_directory = false;
    std::optional<std::string> reserved_text;  // kiv always sends it absent
    bool wait = false;
    OpenBehavior open_behavior = OpenBehavior::Default;
    std::optional<EnvEntries> env;
    std::optional<std::string> user_data_dir;
    bool dev_container = false;
    /// The bytes of a path: encoding fails unless they are UTF-8.
    std::optional<std::string> cwd;
    friend bool operator==(const Open&, const Open&) = default;
  };
  struct SetOpenBehavior {
    DefaultOpenBehavior choice = DefaultOpenBehavior::ExistingWindow;
    friend bool operator==(const SetOpenBehavior&, const SetOpenBehavior&) = default;
  };
  struct DebugState {
    friend bool operator==(const DebugState&, const DebugState&) = default;
  };

  std::variant<Open, SetOpenBehavior, DebugState> value;  // wire index = variant index
  friend bool operator==(const CliRequest&, const CliRequest&) = default;
};

/// The editor's messages to kiv, on the Handshake::responses channel, with
/// their texts held as `Text`: owned (CliResponse) or still in the payload
/// they were decoded from (CliResponseView).
template <class Text>
struct BasicCliResponse {
  struct Ignored {
    friend bool operator==(const Ignored&, const Ignored&) = default;
  };
  struct Stdout {
    Text message;
    friend bool operator==(const Stdout&, const Stdout&) = default;
  };
  struct Stderr {
    Text message;
    friend bool operator==(const Stderr&, const Stderr&) = default;
  };
  struct Exit {
    std::int32_t status = 0;
    friend bool operator==(const Exit&, const Exit&) = default;
  };
  struct PromptOpenBehavior {
    friend bool operator==(const PromptOpenBehavior&, const PromptOpenBehavior&) = default;
  };

  std::variant<Ignored, Stdout, Stderr, Exit, PromptOpenBehavior> value;  // wire index = variant index
  friend bool operator==(const BasicCliResponse&, const BasicCliResponse&) = default;
};
using CliResponse = BasicCliResponse<std::string>;
using CliResponseView = BasicCliResponse<std::string_view>;

/// The editor's first message, on its connection to the one-shot server.
struct Handshake {
  IpcSender requests;    // kiv sends every CliRequest here
  IpcReceiver responses;  // kiv receives every CliResponse here
};

/// The payload of `request`. Fails with PATH_NOT_UTF8_TEXT for a `cwd` that is
/// not UTF-8, or "text is not valid UTF-8: ..." for another text that is not.
[[nodiscard]] Result<std::string> encode_request(const CliRequest& request);

/// The request in `payload`; bytes after it are ignored. Fails with the
/// decoding failures of the Decoder (too short, bad tag or index, not UTF-8).
[[nodiscard]] Result<CliRequest> decode_request(std::string_view payload);

/// The payload of `response`. Fails when its message is not UTF-8.
[[nodiscard]] Result<std::string> encode_response(const CliResponse& response);

/// The response in `payload`; bytes after it are ignored. Fails with the
/// decoding failures of the Decoder.
[[nodiscard]] Result<CliResponse> decode_response(std::string_view payload);

/// As decode_response, with the text of Stdout and Stderr left in `payload`
/// (no copy): the view lives as long as the payload does.
[[nodiscard]] Result<CliResponseView> decode_response_view(std::string_view payload);

/// Encodes `request` and sends it on `requests` with no descriptors. Fails
/// with the encoding failure (nothing is sent), or with "io error: " and the
/// send's OS error.
[[nodiscard]] Status send_request(const IpcSender& requests, CliRequest request);

/// Receives and decodes the next request. Fails with "io error: " and the
/// receive's failure, or with the decoding failure.
[[nodiscard]] Result<CliRequest> receive_request(const IpcReceiver& requests);

/// Encodes and sends `response`. Fails like send_request.
[[nodiscard]] Status send_response(const IpcSender& responses, const CliResponse& response);

/// Receives and decodes the next response; descriptors that came with it are
/// closed. Fails with "io error: " and the receive's failure, or with the
/// decoding failure.
[[nodiscard]] Result<CliResponse> receive_response(const IpcReceiver& responses);

/// As receive_response, with the message kept in `received` and the
/// response's text left in its payload: a text of N bytes costs N bytes once.
[[nodiscard]] Result<CliResponseView> receive_response_view(const IpcReceiver& responses, IpcMessage& received);

/// The two channel ends named by the first message on a one-shot connection.
/// A payload shorter than 16 bytes fails with UNEXPECTED_END_TEXT; an index
/// that names no descriptor fails saying so. Descriptors not named close
/// with `message`.
[[nodiscard]] Result<Handshake> decode_handshake(IpcMessage message);

/// Sends `handshake` on `connection` (the editor's side): the 16 bytes of
/// indices 0 and 1 with its two descriptors, which close when it returns.
/// Fails with "io error: " and the send's OS error.
[[nodiscard]] Status send_handshake(const IpcSender& connection, Handshake handshake);

}  // namespace kiv::ipc
