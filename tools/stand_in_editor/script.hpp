// The stand-in editor's script: what it does in one session with kiv, one
// directive per line (the language is described in README.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace kiv::stand_in {

/// How the session's first message looks.
enum class HandshakeMode {
  Normal,    // the 16-byte handshake with both channel ends
  Short,     // only the first index (8 bytes), with both descriptors
  BadIndex,  // indices 0 and 5, with two descriptors
  Silent,    // connect, then close without sending
  Never,     // never connect at all
};

struct Directive {
  enum class Kind {
    Sleep,      // `millis`
    Handshake,  // `handshake`
    Receive,    // receive one request and record it
    Describe,   // Stdout lines describing the last request received
    Send,       // send `payload`, then `bulk` bytes of the bulk text, as one message on the responses channel
    Prompt,     // send PromptOpenBehavior, then receive the answer
    Close,      // close `close_requests` / `close_responses`
  };
  Kind kind = Kind::Sleep;
  int line = 0;  // 0 for directives the parser supplies
  std::uint32_t millis = 0;
  HandshakeMode handshake = HandshakeMode::Normal;
  std::string payload;
  std::size_t bulk = 0;
  bool close_requests = false;
  bool close_responses = false;
};

/// A parsed script: the handshake is always present, after any leading
/// sleeps, so running it needs no rules of its own.
struct Script {
  std::vector<Directive> directives;
};

/// What the stand-in does without a script.
inline constexpr std::string_view DEFAULT_SCRIPT = "receive\ndescribe\nexit 0\n";

/// Parses `text`. Fails with "line N: {what is wrong}" at the first fault.
[[nodiscard]] Result<Script> parse_script(std::string_view text);

/// The session run after a script failed to load or parse: it takes the
/// request and answers with `message` on standard error and exit status 1.
Script script_error_session(const std::string& message);

/// `v` as 8 little-endian bytes.
std::string le64(std::uint64_t v);

}  // namespace kiv::stand_in
