#include "script.hpp"

#include <charconv>

#include "base/text.hpp"
#include "ipc/messages.hpp"

namespace kiv::stand_in {
namespace {

using ipc::CliResponse;

constexpr std::size_t MAX_BULK = std::size_t{1} << 30;

const std::string STDOUT_INDEX("\x01\0\0\0", 4);

template <class T>
bool parse_number(std::string_view text, T& out) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

Directive directive(Directive::Kind kind) {
  Directive d;
  d.kind = kind;
  return d;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Result<std::string> unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return fail("a backslash ends the text");
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        int high = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
        if (high < 0 || low < 0) return fail("\\x needs two hex digits");
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return fail(std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

Result<std::string> hex_bytes(std::string_view text) {
  std::string out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    int v = hex_digit(c);
    if (v < 0) return fail(std::string("not a hex digit: ") + c);
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  if (high >= 0) return fail("an odd number of hex digits");
  return out;
}

Result<std::string> response_payload(CliResponse response) {
  auto payload = ipc::encode_response(response);
  if (!payload) return fail("the text is not valid UTF-8 (for a malformed text use `malformed bad-utf8`)");
  return std::move(*payload);
}

Result<HandshakeMode> handshake_mode(std::string_view word) {
  if (word == "normal") return HandshakeMode::Normal;
  if (word == "short") return HandshakeMode::Short;
  if (word == "bad-index") return HandshakeMode::BadIndex;
  if (word == "silent") return HandshakeMode::Silent;
  if (word == "never") return HandshakeMode::Never;
  return fail("unknown handshake \"" + std::string(word) + "\" (normal, short, bad-index, silent, never)");
}

Result<std::string> malformed_payload(std::string_view word) {
  if (word == "short") return std::string("\x03\0\0\0", 4);  // Exit without its status
  if (word == "bad-index") return std::string("\x05\0\0\0", 4);
  if (word == "bad-utf8") return STDOUT_INDEX + le64(1) + "\xFF";
  if (word == "long-length") return STDOUT_INDEX + le64(100) + "abc";
  return fail("unknown malformed payload \"" + std::string(word) + "\" (short, bad-index, bad-utf8, long-length)");
}

// One directive from `name` and `argument` (the rest of the line after one blank).
Result<Directive> parse_directive(std::string_view name, std::string_view argument, bool has_argument) {
  using Kind = Directive::Kind;
  Directive d;
  auto no_argument = [&](Kind kind) -> Result<Directive> {
    if (has_argument) return fail("`" + std::string(name) + "` takes no argument");
    d.kind = kind;
    return d;
  };
  auto send = [&](Result<std::string> payload) -> Result<Directive> {
    if (!payload) return fail(std::move(payload).error());
    d.kind = Kind::Send;
    d.payload = std::move(*payload);
    return d;
  };
  auto size_argument = [&]() -> Result<std::size_t> {
    std::size_t n = 0;
    if (!parse_number(argument, n) || n > MAX_BULK) return fail("`" + std::string(name) + "` needs a byte count up to 2^30");
    return n;
  };

  if (name == "receive") return no_argument(Kind::Receive);
  if (name == "describe") return no_argument(Kind::Describe);
  if (name == "prompt") return no_argument(Kind::Prompt);
  if (name == "ignored") return send(response_payload(CliResponse{CliResponse::Ignored{}}));
  if (name == "stdout" || name == "stderr") {
    KIV_TRY_ASSIGN(std::string text, unescape(argument));
    if (name == "stdout") return send(response_payload(CliResponse{CliResponse::Stdout{std::move(text)}}));
    return send(response_payload(CliResponse{CliResponse::Stderr{std::move(text)}}));
  }
  if (name == "stdout-bulk" || name == "stderr-bulk") {
    // The text comes only when the message is sent: here the payload of an
    // empty text, whose length is then made the text's.
    KIV_TRY_ASSIGN(d.bulk, size_argument());
    KIV_TRY_ASSIGN(d.payload, response_payload(name == "stdout-bulk" ? CliResponse{CliResponse::Stdout{}}
                                                                     : CliResponse{CliResponse::Stderr{}}));
    d.payload.replace(d.payload.size() - 8, 8, le64(d.bulk));
    d.kind = Kind::Send;
    return d;
  }
  if (name == "exit") {
    std::int32_t status = 0;
    if (!parse_number(argument, status)) return fail("`exit` needs a signed 32-bit status");
    return send(response_payload(CliResponse{CliResponse::Exit{status}}));
  }
  if (name == "send") return send(hex_bytes(argument));
  if (name == "malformed") return send(malformed_payload(argument));
  if (name == "sleep") {
    if (!parse_number(argument, d.millis)) return fail("`sleep` needs milliseconds");
    d.kind = Kind::Sleep;
    return d;
  }
  if (name == "handshake") {
    KIV_TRY_ASSIGN(d.handshake, handshake_mode(argument));
    d.kind = Kind::Handshake;
    return d;
  }
  if (name == "close") {
    d.kind = Kind::Close;
    d.close_requests = !has_argument || argument == "requests";
    d.close_responses = !has_argument || argument == "responses";
    if (has_argument && argument != "requests" && argument != "responses") {
      return fail("`close` takes nothing, `requests` or `responses`");
    }
    return d;
  }
  return fail("unknown directive \"" + std::string(name) + "\"");
}

}  // namespace

Result<Script> parse_script(std::string_view text) {
  using Kind = Directive::Kind;
  Script script;
  bool handshake_seen = false;
  bool handshake_normal = true;
  bool requests_open = true;
  bool responses_open = true;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;

    std::size_t blank = line.find(' ');
    std::string_view name = line.substr(0, blank);
    std::string_view argument = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    auto where = [&](std::string what) { return Error("line " + std::to_string(line_number) + ": " + what); };
    auto parsed = parse_directive(name, argument, blank != std::string_view::npos);
    if (!parsed) return fail(where(parsed.error().display()));
    Directive d = std::move(*parsed);
    d.line = line_number;

    if (d.kind == Kind::Handshake) {
      if (handshake_seen) return fail(where("the handshake comes once, before everything but `sleep`"));
    } else if (d.kind != Kind::Sleep) {
      if (!handshake_seen) script.directives.push_back(directive(Kind::Handshake));
      if (!handshake_normal) return fail(where("after a handshake other than `normal` only `sleep` may follow"));
    }
    if (d.kind != Kind::Sleep) handshake_seen = true;
    if (d.kind == Kind::Handshake) handshake_normal = d.handshake == HandshakeMode::Normal;

    bool sends = d.kind == Kind::Send || d.kind == Kind::Describe || d.kind == Kind::Prompt;
    bool receives = d.kind == Kind::Receive || d.kind == Kind::Prompt;
    if (sends && !responses_open) return fail(where("the responses channel is closed already"));
    if (receives && !requests_open) return fail(where("the requests channel is closed already"));
    if (d.kind == Kind::Close) {
      requests_open = requests_open && !d.close_requests;
      responses_open = responses_open && !d.close_responses;
    }
    script.directives.push_back(std::move(d));
  }
  if (!handshake_seen) script.directives.push_back(directive(Kind::Handshake));
  return script;
}

Script script_error_session(const std::string& message) {
  Script script;
  script.directives.push_back(directive(Directive::Kind::Handshake));
  script.directives.push_back(directive(Directive::Kind::Receive));
  Directive report = directive(Directive::Kind::Send);
  report.payload = *ipc::encode_response(CliResponse{CliResponse::Stderr{utf8_lossy(message)}});
  script.directives.push_back(std::move(report));
  Directive exit = directive(Directive::Kind::Send);
  exit.payload = *ipc::encode_response(CliResponse{CliResponse::Exit{1}});
  script.directives.push_back(std::move(exit));
  return script;
}

std::string le64(std::uint64_t v) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

}  // namespace kiv::stand_in
