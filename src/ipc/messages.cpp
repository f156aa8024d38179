#include "ipc/messages.hpp"

#include "ipc/wire.hpp"

namespace kiv::ipc {
namespace {

// Transport failures reach the user as "io error: {failure}".
constexpr std::string_view IO_ERROR = "io error";

// The smallest encoding of one element, for bounding counts: a text is at
// least its 8-byte length, a pair or a map entry two of them.
constexpr std::size_t MIN_TEXT_SIZE = 8;
constexpr std::size_t MIN_PAIR_SIZE = 16;

constexpr std::uint32_t REQUEST_VARIANTS = 3;
constexpr std::uint32_t RESPONSE_VARIANTS = 5;
constexpr std::uint32_t OPEN_BEHAVIOR_CODES = 7;
constexpr std::uint32_t DEFAULT_OPEN_BEHAVIOR_CODES = 2;

void encode_open(Encoder& out, const CliRequest::Open& open) {
  out.count(open.paths.size());
  for (const auto& path : open.paths) out.text(path);
  out.count(open.urls.size());
  for (const auto& url : open.urls) out.text(url);
  out.count(open.diff_paths.size());
  for (const auto& [old_path, new_path] : open.diff_paths) {
    out.text(old_path);
    out.text(new_path);
  }
  out.boolean(open.diff_has_directory);
  out.option_tag(open.reserved_text.has_value());
  if (open.reserved_text) out.text(*open.reserved_text);
  out.boolean(open.wait);
  out.u32(static_cast<std::uint32_t>(open.open_behavior));
  out.option_tag(open.env.has_value());
  if (open.env) {
    out.count(open.env->size());
    for (const auto& [key, value] : *open.env) {
      out.text(key);
      out.text(value);
    }
  }
  out.option_tag(open.user_data_dir.has_value());
  if (open.user_data_dir) out.text(*open.user_data_dir);
  out.boolean(open.dev_container);
  out.option_tag(open.cwd.has_value());
  if (open.cwd) out.path(*open.cwd);
}

Result<std::vector<std::string>> decode_texts(Decoder& in) {
  KIV_TRY_ASSIGN(std::size_t n, in.count(MIN_TEXT_SIZE));
  std::vector<std::string> texts;
  texts.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    KIV_TRY_ASSIGN(std::string text, in.text());
    texts.push_back(std::move(text));
  }
  return texts;
}

Result<std::vector<std::pair<std::string, std::string>>> decode_pairs(Decoder& in) {
  KIV_TRY_ASSIGN(std::size_t n, in.count(MIN_PAIR_SIZE));
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    KIV_TRY_ASSIGN(std::string first, in.text());
    KIV_TRY_ASSIGN(std::string second, in.text());
    pairs.emplace_back(std::move(first), std::move(second));
  }
  return pairs;
}

Result<std::optional<std::string>> decode_optional_text(Decoder& in) {
  KIV_TRY_ASSIGN(bool present, in.option_tag());
  if (!present) return std::optional<std::string>();
  KIV_TRY_ASSIGN(std::string text, in.text());
  return std::optional<std::string>(std::move(text));
}

Result<CliRequest::Open> decode_open(Decoder& in) {
  CliRequest::Open open;
  KIV_TRY_ASSIGN(open.paths, decode_texts(in));
  KIV_TRY_ASSIGN(open.urls, decode_texts(in));
  KIV_TRY_ASSIGN(open.diff_paths, decode_pairs(in));
  KIV_TRY_ASSIGN(open.diff_has_directory, in.boolean());
  KIV_TRY_ASSIGN(open.reserved_text, decode_optional_text(in));
  KIV_TRY_ASSIGN(open.wait, in.boolean());
  KIV_TRY_ASSIGN(std::uint32_t behavior, in.variant(OPEN_BEHAVIOR_CODES));
  open.open_behavior = static_cast<OpenBehavior>(behavior);
  KIV_TRY_ASSIGN(bool has_env, in.option_tag());
  if (has_env) {
    KIV_TRY_ASSIGN(open.env, decode_pairs(in));
  }
  KIV_TRY_ASSIGN(open.user_data_dir, decode_optional_text(in));
  KIV_TRY_ASSIGN(open.dev_container, in.boolean());
  KIV_TRY_ASSIGN(open.cwd, decode_optional_text(in));
  return open;
}

}  // namespace

Result<std::string> encode_request(const CliRequest& request) {
  Encoder out;
  out.u32(static_cast<std::uint32_t>(request.value.index()));
  if (const auto* open = std::get_if<CliRequest::Open>(&request.value)) encode_open(out, *open);
  if (const auto* set = std::get_if<CliRequest::SetOpenBehavior>(&request.value)) {
    out.u32(static_cast<std::uint32_t>(set->choice));
  }
  return std::move(out).finish();
}

Result<CliRequest> decode_request(std::string_view payload) {
  Decoder in(payload);
  KIV_TRY_ASSIGN(std::uint32_t index, in.variant(REQUEST_VARIANTS));
  switch (index) {
    case 0: {
      KIV_TRY_ASSIGN(CliRequest::Open open, decode_open(in));
      return CliRequest{std::move(open)};
    }
    case 1: {
      KIV_TRY_ASSIGN(std::uint32_t choice, in.variant(DEFAULT_OPEN_BEHAVIOR_CODES));
      return CliRequest{CliRequest::SetOpenBehavior{static_cast<DefaultOpenBehavior>(choice)}};
    }
    default:
      return CliRequest{CliRequest::DebugState{}};
  }
}

Result<std::string> encode_response(const CliResponse& response) {
  Encoder out;
  out.u32(static_cast<std::uint32_t>(response.value.index()));
  if (const auto* out_text = std::get_if<CliResponse::Stdout>(&response.value)) out.text(out_text->message);
  if (const auto* err_text = std::get_if<CliResponse::Stderr>(&response.value)) out.text(err_text->message);
  if (const auto* exit = std::get_if<CliResponse::Exit>(&response.value)) out.i32(exit->status);
  return std::move(out).finish();
}

Result<CliResponseView> decode_response_view(std::string_view payload) {
  Decoder in(payload);
  KIV_TRY_ASSIGN(std::uint32_t index, in.variant(RESPONSE_VARIANTS));
  switch (index) {
    case 0:
      return CliResponseView{CliResponseView::Ignored{}};
    case 1: {
      KIV_TRY_ASSIGN(std::string_view message, in.text_view());
      return CliResponseView{CliResponseView::Stdout{message}};
    }
    case 2: {
      KIV_TRY_ASSIGN(std::string_view message, in.text_view());
      return CliResponseView{CliResponseView::Stderr{message}};
    }
    case 3: {
      KIV_TRY_ASSIGN(std::int32_t status, in.i32());
      return CliResponseView{CliResponseView::Exit{status}};
    }
    default:
      return CliResponseView{CliResponseView::PromptOpenBehavior{}};
  }
}

Result<CliResponse> decode_response(std::string_view payload) {
  KIV_TRY_ASSIGN(CliResponseView view, decode_response_view(payload));
  return std::visit(
      [](auto& variant) -> CliResponse {
        using V = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<V, CliResponseView::Stdout>) {
          return {CliResponse::Stdout{std::string(variant.message)}};
        } else if constexpr (std::is_same_v<V, CliResponseView::Stderr>) {
          return {CliResponse::Stderr{std::string(variant.message)}};
        } else if constexpr (std::is_same_v<V, CliResponseView::Exit>) {
          return {CliResponse::Exit{variant.status}};
        } else if constexpr (std::is_same_v<V, CliResponseView::Ignored>) {
          return {CliResponse::Ignored{}};
        } else {
          return {CliResponse::PromptOpenBehavior{}};
        }
      },
      view.value);
}

Status send_request(const IpcSender& requests, CliRequest request) {
  KIV_TRY_ASSIGN(std::string payload, encode_request(request));
  return with_context(requests.send(payload), IO_ERROR);
}

Result<CliRequest> receive_request(const IpcReceiver& requests) {
  KIV_TRY_ASSIGN(IpcMessage message, with_context(requests.receive(), IO_ERROR));
  return decode_request(message.payload);
}

Status send_response(const IpcSender& responses, const CliResponse& response) {
  KIV_TRY_ASSIGN(std::string payload, encode_response(response));
  return with_context(responses.send(payload), IO_ERROR);
}

Result<CliResponse> receive_response(const IpcReceiver& responses) {
  KIV_TRY_ASSIGN(IpcMessage message, with_context(responses.receive(), IO_ERROR));
  return decode_response(message.payload);
}

Result<CliResponseView> receive_response_view(const IpcReceiver& responses, IpcMessage& received) {
  KIV_TRY_ASSIGN(received, with_context(responses.receive(), IO_ERROR));
  // The descriptors are of no use to kiv: closed now rather than kept.
  received.channels.clear();
  received.other_descriptors.clear();
  return decode_response_view(received.payload);
}

Result<Handshake> decode_handshake(IpcMessage message) {
  Decoder in(message.payload);
  KIV_TRY_ASSIGN(UniqueFd requests, in.channel_end(message.channels));
  KIV_TRY_ASSIGN(UniqueFd responses, in.channel_end(message.channels));
  return Handshake{IpcSender(std::move(requests)), IpcReceiver(std::move(responses))};
}

Status send_handshake(const IpcSender& connection, Handshake handshake) {
  Encoder out;
  out.channel_end(handshake.requests.fd());
  out.channel_end(handshake.responses.fd());
  const std::vector<int> descriptors = out.descriptors();
  KIV_TRY_ASSIGN(std::string payload, std::move(out).finish());
  return with_context(connection.send(payload, descriptors), IO_ERROR);
}

}  // namespace kiv::ipc
