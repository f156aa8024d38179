#include "ipc/messages.hpp"

#include <array>
#include <type_traits>
#include <utility>

#include "base/overloaded.hpp"
#include "ipc/wire.hpp"

namespace kiv::ipc {
namespace {

// Transport failures reach the user as "io error: {failure}".
constexpr std::string_view IO_ERROR = "io error";

// The smallest encoding of one element, for bounding counts: a text is at
// least its 8-byte length, a pair or a map entry two of them.
constexpr std::size_t MIN_TEXT_SIZE = 8;
constexpr std::size_t MIN_PAIR_SIZE = 16;

constexpr std::uint32_t OPEN_BEHAVIOR_CODES = 7;
constexpr std::uint32_t DEFAULT_OPEN_BEHAVIOR_CODES = 2;

// Each message is its variant index as a u32, then the fields of that
// alternative, written by encode_fields and read by decode_fields. Both go
// through tables made from every alternative of the variant, so a message
// added without its two overloads does not compile.

void encode_fields(Encoder& out, const CliRequest::Open& open) {
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

Result<EnvEntries> decode_env_entries(Decoder& in) {
  KIV_TRY_ASSIGN(std::size_t n, in.count(MIN_PAIR_SIZE));
  EnvEntries entries;
  entries.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    KIV_TRY_ASSIGN(std::string name, in.text());
    KIV_TRY_ASSIGN(std::string value, in.text());
    entries.emplace_back(std::move(name), std::move(value));
  }
  return entries;
}

Result<std::vector<DiffPair>> decode_diff_pairs(Decoder& in) {
  KIV_TRY_ASSIGN(std::size_t n, in.count(MIN_PAIR_SIZE));
  std::vector<DiffPair> pairs;
  pairs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    DiffPair pair;
    KIV_TRY_ASSIGN(pair.old_path, in.text());
    KIV_TRY_ASSIGN(pair.new_path, in.text());
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

Result<std::optional<std::string>> decode_optional_text(Decoder& in) {
  KIV_TRY_ASSIGN(bool present, in.option_tag());
  if (!present) return std::optional<std::string>();
  KIV_TRY_ASSIGN(std::string text, in.text());
  return std::optional<std::string>(std::move(text));
}

Result<CliRequest::Open> decode_fields(Decoder& in, std::type_identity<CliRequest::Open>) {
  CliRequest::Open open;
  KIV_TRY_ASSIGN(open.paths, decode_texts(in));
  KIV_TRY_ASSIGN(open.urls, decode_texts(in));
  KIV_TRY_ASSIGN(open.diff_paths, decode_diff_pairs(in));
  KIV_TRY_ASSIGN(open.diff_has_directory, in.boolean());
  KIV_TRY_ASSIGN(open.reserved_text, decode_optional_text(in));
  KIV_TRY_ASSIGN(open.wait, in.boolean());
  KIV_TRY_ASSIGN(std::uint32_t behavior, in.variant(OPEN_BEHAVIOR_CODES));
  open.open_behavior = static_cast<OpenBehavior>(behavior);
  KIV_TRY_ASSIGN(bool has_env, in.option_tag());
  if (has_env) {
    KIV_TRY_ASSIGN(open.env, decode_env_entries(in));
  }
  KIV_TRY_ASSIGN(open.user_data_dir, decode_optional_text(in));
  KIV_TRY_ASSIGN(open.dev_container, in.boolean());
  KIV_TRY_ASSIGN(open.cwd, decode_optional_text(in));
  return open;
}

void encode_fields(Encoder& out, const CliRequest::SetOpenBehavior& set) {
  out.u32(static_cast<std::uint32_t>(set.choice));
}
void encode_fields(Encoder&, const CliRequest::DebugState&) {}
void encode_fields(Encoder&, const CliResponse::Ignored&) {}
void encode_fields(Encoder& out, const CliResponse::Stdout& text) { out.text(text.message); }
void encode_fields(Encoder& out, const CliResponse::Stderr& text) { out.text(text.message); }
void encode_fields(Encoder& out, const CliResponse::Exit& exit) { out.i32(exit.status); }
void encode_fields(Encoder&, const CliResponse::PromptOpenBehavior&) {}

Result<CliRequest::SetOpenBehavior> decode_fields(Decoder& in, std::type_identity<CliRequest::SetOpenBehavior>) {
  KIV_TRY_ASSIGN(std::uint32_t choice, in.variant(DEFAULT_OPEN_BEHAVIOR_CODES));
  return CliRequest::SetOpenBehavior{static_cast<DefaultOpenBehavior>(choice)};
}
Result<CliRequest::DebugState> decode_fields(Decoder&, std::type_identity<CliRequest::DebugState>) { return {}; }
Result<CliResponseView::Ignored> decode_fields(Decoder&, std::type_identity<CliResponseView::Ignored>) { return {}; }
Result<CliResponseView::Stdout> decode_fields(Decoder& in, std::type_identity<CliResponseView::Stdout>) {
  KIV_TRY_ASSIGN(std::string_view message, in.text_view());
  return CliResponseView::Stdout{message};
}
Result<CliResponseView::Stderr> decode_fields(Decoder& in, std::type_identity<CliResponseView::Stderr>) {
  KIV_TRY_ASSIGN(std::string_view message, in.text_view());
  return CliResponseView::Stderr{message};
}
Result<CliResponseView::Exit> decode_fields(Decoder& in, std::type_identity<CliResponseView::Exit>) {
  KIV_TRY_ASSIGN(std::int32_t status, in.i32());
  return CliResponseView::Exit{status};
}
Result<CliResponseView::PromptOpenBehavior> decode_fields(Decoder&,
                                                          std::type_identity<CliResponseView::PromptOpenBehavior>) {
  return {};
}

template <class Variant>
void encode_variant(Encoder& out, const Variant& value) {
  out.u32(static_cast<std::uint32_t>(value.index()));
  std::visit([&out](const auto& alternative) { encode_fields(out, alternative); }, value);
}

template <class Variant, std::size_t I>
Result<Variant> decode_alternative(Decoder& in) {
  using Alternative = std::variant_alternative_t<I, Variant>;
  KIV_TRY_ASSIGN(Alternative fields, decode_fields(in, std::type_identity<Alternative>{}));
  return Variant(std::in_place_index<I>, std::move(fields));
}

template <class Variant, std::size_t... I>
constexpr auto alternative_decoders(std::index_sequence<I...>) {
  return std::array<Result<Variant> (*)(Decoder&), sizeof...(I)>{&decode_alternative<Variant, I>...};
}

// The decoder of the alternative a message's index names; an index past the
// last alternative is a decoding failure.
template <class Variant>
Result<Variant> decode_variant(Decoder& in) {
  static constexpr auto decoders =
      alternative_decoders<Variant>(std::make_index_sequence<std::variant_size_v<Variant>>{});
  KIV_TRY_ASSIGN(std::uint32_t index, in.variant(static_cast<std::uint32_t>(decoders.size())));
  return decoders[index](in);
}

// The owned form of a decoded response: its texts copied out of the payload.
CliResponse owned(const CliResponseView& view) {
  return std::visit(Overloaded{
                        [](const CliResponseView::Ignored&) -> CliResponse { return {CliResponse::Ignored{}}; },
                        [](const CliResponseView::Stdout& text) -> CliResponse {
                          return {CliResponse::Stdout{std::string(text.message)}};
                        },
                        [](const CliResponseView::Stderr& text) -> CliResponse {
                          return {CliResponse::Stderr{std::string(text.message)}};
                        },
                        [](const CliResponseView::Exit& exit) -> CliResponse { return {CliResponse::Exit{exit.status}}; },
                        [](const CliResponseView::PromptOpenBehavior&) -> CliResponse {
                          return {CliResponse::PromptOpenBehavior{}};
                        },
                    },
                    view.value);
}

}  // namespace

Result<std::string> encode_request(const CliRequest& request) {
  Encoder out;
  encode_variant(out, request.value);
  return std::move(out).finish();
}

Result<CliRequest> decode_request(std::string_view payload) {
  Decoder in(payload);
  KIV_TRY_ASSIGN(auto value, decode_variant<decltype(CliRequest::value)>(in));
  return CliRequest{std::move(value)};
}

Result<std::string> encode_response(const CliResponse& response) {
  Encoder out;
  encode_variant(out, response.value);
  return std::move(out).finish();
}

Result<CliResponseView> decode_response_view(std::string_view payload) {
  Decoder in(payload);
  KIV_TRY_ASSIGN(auto value, decode_variant<decltype(CliResponseView::value)>(in));
  return CliResponseView{value};
}

Result<CliResponse> decode_response(std::string_view payload) {
  KIV_TRY_ASSIGN(CliResponseView view, decode_response_view(payload));
  return owned(view);
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
