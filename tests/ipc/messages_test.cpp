// The byte encoding of requests, responses and the handshake.
#include "ipc/messages.hpp"

#include <gtest/gtest.h>

#include "ipc/wire.hpp"
#include "raw_peer.hpp"

namespace kiv::ipc {
namespace {

using testing::bytes;
using testing::hex;
using testing::le64;

std::string encoded(const CliRequest& request) {
  auto payload = encode_request(request);
  EXPECT_TRUE(payload) << payload.error().display();
  return payload ? *payload : std::string();
}

// The request fields at their defaults, as 35 bytes after the index: three
// empty lists, diff_has_directory, reserved_text, wait, the behaviour code,
// env, user_data_dir, dev_container and cwd.
const std::string EMPTY_OPEN = bytes(
    "00000000"
    "0000000000000000 0000000000000000 0000000000000000"
    "00 00 00"
    "00000000"
    "00 00 00 00");

TEST(EncodeRequest, ByteExactForms) {
  struct Case {
    const char* what;
    CliRequest request;
    std::string expected;
  };
  CliRequest::Open with_cwd;
  with_cwd.cwd = "/";
  CliRequest::Open one_diff;
  one_diff.diff_paths = {{"a", "b"}};
  CliRequest::Open full;
  full.paths = {"/src/main.rs:10:5"};
  full.urls = {"kiv://x"};
  full.diff_has_directory = true;
  full.wait = true;
  full.open_behavior = OpenBehavior::Reuse;
  full.env = EnvEntries{{"K", "v"}};
  full.user_data_dir = "d";
  full.dev_container = true;
  full.cwd = "/w";

  const Case cases[] = {
      {"debug state", CliRequest{CliRequest::DebugState{}}, bytes("02000000")},
      {"set open behavior, new window", CliRequest{CliRequest::SetOpenBehavior{DefaultOpenBehavior::NewWindow}},
       bytes("01000000 01000000")},
      {"set open behavior, existing window",
       CliRequest{CliRequest::SetOpenBehavior{DefaultOpenBehavior::ExistingWindow}}, bytes("01000000 00000000")},
      {"empty open", CliRequest{CliRequest::Open{}}, EMPTY_OPEN},
      {"open with cwd /", CliRequest{with_cwd}, EMPTY_OPEN.substr(0, 38) + bytes("01 0100000000000000 2f")},
      {"one diff pair",
       CliRequest{one_diff},
       EMPTY_OPEN.substr(0, 20) + le64(1) + le64(1) + "a" + le64(1) + "b" + EMPTY_OPEN.substr(28)},
      {"every field",
       CliRequest{full},
       bytes("00000000") + le64(1) + le64(17) + "/src/main.rs:10:5" + le64(1) + le64(7) + "kiv://x" + le64(0) +
           bytes("01 00 01 06000000 01") + le64(1) + le64(1) + "K" + le64(1) + "v" + bytes("01") + le64(1) + "d" +
           bytes("01 01") + le64(2) + "/w"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(hex(encoded(c.request)), hex(c.expected));
  }
  EXPECT_EQ(EMPTY_OPEN.size(), 39u);
  EXPECT_EQ(encoded(CliRequest{with_cwd}).size(), 48u);
  EXPECT_EQ(encoded(CliRequest{one_diff}).size(), 39u + 18u);
}

TEST(EncodeRequest, TextsThatAreNotUtf8FailBeforeAnythingIsSent) {
  CliRequest::Open bad_cwd;
  bad_cwd.cwd = "/tmp/\xFF";
  auto result = encode_request(CliRequest{bad_cwd});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(), "path contains invalid UTF-8 characters");

  CliRequest::Open bad_path;
  bad_path.paths = {"a\xC3"};
  result = encode_request(CliRequest{bad_path});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(), "text is not valid UTF-8: \"a\\xC3\"");

  auto [sender, receiver] = *channel();
  auto sent = send_request(sender, CliRequest{bad_cwd});
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().display(), "path contains invalid UTF-8 characters");
  EXPECT_TRUE(testing::nothing_queued(receiver.fd()));
}

TEST(DecodeRequest, RoundTripsEveryField) {
  CliRequest::Open open;
  open.paths = {"/a b/c.rs:1", "", "/\xE2\x82\xAC"};
  open.urls = {"ssh://host/x", "file:///y"};
  open.diff_paths = {{"/old", "/new"}, {"", "/tmp/.tmpAbC123/x"}};
  open.diff_has_directory = true;
  open.reserved_text = "reserved";
  open.wait = true;
  open.open_behavior = static_cast<OpenBehavior>(2);  // never sent by kiv, still a valid code
  open.env = EnvEntries{{"B", "2"}, {"A", ""}, {"B", "again"}};
  open.user_data_dir = "rel/dir";
  open.dev_container = true;
  open.cwd = "/home/u";
  const CliRequest requests[] = {
      CliRequest{open},
      CliRequest{CliRequest::Open{}},
      CliRequest{CliRequest::SetOpenBehavior{DefaultOpenBehavior::NewWindow}},
      CliRequest{CliRequest::DebugState{}},
  };
  for (const auto& request : requests) {
    SCOPED_TRACE(request.value.index());
    auto decoded = decode_request(encoded(request) + "trailing bytes are ignored");
    ASSERT_TRUE(decoded) << decoded.error().display();
    EXPECT_EQ(*decoded, request);
  }
}

TEST(DecodeRequest, MalformedPayloadsFailWithoutReadingOrAllocatingPastThem) {
  struct Case {
    const char* what;
    std::string payload;
    std::string error;
  };
  const std::string huge = le64(std::uint64_t{1} << 60);
  const std::string open_head = EMPTY_OPEN.substr(0, 28);  // index and the three list counts
  const Case cases[] = {
      {"empty", "", "io error: unexpected end of file"},
      {"request index 3", bytes("03000000"), "invalid value: integer `3`, expected variant index 0 <= i < 3"},
      {"choice 2", bytes("01000000 02000000"), "invalid value: integer `2`, expected variant index 0 <= i < 2"},
      {"choice cut short", bytes("01000000 0100"), "io error: unexpected end of file"},
      {"2^60 paths", bytes("00000000") + huge, "io error: unexpected end of file"},
      {"2^60 diff pairs", bytes("00000000") + le64(0) + le64(0) + huge, "io error: unexpected end of file"},
      {"2^60 env entries", open_head + bytes("00 00 00 00000000 01") + huge, "io error: unexpected end of file"},
      {"path longer than the payload", bytes("00000000") + le64(1) + le64(1000) + "abc", "io error: "},
      {"path length 2^63", bytes("00000000") + le64(1) + le64(std::uint64_t{1} << 63), "io error: "},
      {"bool 2", open_head + bytes("02"), "invalid u8 while decoding bool, expected 0 or 1, found 2"},
      {"option tag 7", open_head + bytes("00 07"), "tag for enum is not valid, found 7"},
      {"behavior code 7", open_head + bytes("00 00 00 07000000"),
       "invalid value: integer `7`, expected variant index 0 <= i < 7"},
      {"url not UTF-8", bytes("00000000") + le64(0) + le64(1) + le64(2) + "\xC3(",
       "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 0"},
      {"cwd cut short", EMPTY_OPEN.substr(0, 38) + bytes("01") + le64(5) + "/ab", "io error: "},
      {"open missing its last byte", EMPTY_OPEN.substr(0, 38), "io error: unexpected end of file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto decoded = decode_request(c.payload);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().display(), c.error);
  }
}

TEST(DecodeResponse, EveryVariantAndEveryWayToFail) {
  struct Case {
    std::string payload;
    std::optional<CliResponse> expected;
    std::string error;
  };
  const std::string stdout_abc = bytes("01000000") + le64(3) + "abc";
  const Case cases[] = {
      {bytes("00000000"), CliResponse{CliResponse::Ignored{}}, ""},
      {stdout_abc, CliResponse{CliResponse::Stdout{"abc"}}, ""},
      {stdout_abc + "z", CliResponse{CliResponse::Stdout{"abc"}}, ""},
      {bytes("02000000") + le64(0), CliResponse{CliResponse::Stderr{""}}, ""},
      {bytes("03000000 ffffffff"), CliResponse{CliResponse::Exit{-1}}, ""},
      {bytes("03000000 03000000 ff"), CliResponse{CliResponse::Exit{3}}, ""},
      {bytes("04000000"), CliResponse{CliResponse::PromptOpenBehavior{}}, ""},
      {"", std::nullopt, "io error: unexpected end of file"},
      {bytes("010000"), std::nullopt, "io error: unexpected end of file"},
      {bytes("03000000"), std::nullopt, "io error: unexpected end of file"},
      {bytes("03000000 ffffff"), std::nullopt, "io error: unexpected end of file"},
      {bytes("05000000"), std::nullopt, "invalid value: integer `5`, expected variant index 0 <= i < 5"},
      {bytes("ffffffff"), std::nullopt, "invalid value: integer `4294967295`, expected variant index 0 <= i < 5"},
      {bytes("01000000") + le64(4) + "abc", std::nullopt, "io error: "},
      {bytes("01000000") + le64(~std::uint64_t{0}) + "abc", std::nullopt, "io error: "},
      {bytes("01000000 0300000000"), std::nullopt, "io error: unexpected end of file"},
      {bytes("02000000") + le64(1) + "\xFF", std::nullopt,
       "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 0"},
      {bytes("01000000") + le64(3) + "a\xE2\x82", std::nullopt,
       "string is not valid utf8: incomplete utf-8 byte sequence from index 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hex(c.payload));
    auto decoded = decode_response(c.payload);
    if (c.expected) {
      ASSERT_TRUE(decoded) << decoded.error().display();
      EXPECT_EQ(*decoded, *c.expected);
    } else {
      ASSERT_FALSE(decoded);
      EXPECT_EQ(decoded.error().display(), c.error);
    }
  }
}

TEST(Utf8ErrorDetail, NamesTheFirstFaultByItsMaximalSubpart) {
  struct Case {
    std::string bytes;
    std::string detail;
  };
  const Case cases[] = {
      {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ab\xC3(", "invalid utf-8 sequence of 1 bytes from index 2"},
      {"\xE2\x82(", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xC3\xA9\xF0\x9F\x98(", "invalid utf-8 sequence of 3 bytes from index 2"},
      {"\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},          // overlong
      {"x\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 1"},     // surrogate
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // above U+10FFFF
      {"\xC3", "incomplete utf-8 byte sequence from index 0"},
      {"\xF0\x9F\x98\x80\xE2\x82", "incomplete utf-8 byte sequence from index 4"},
      {"\xE2\x82\xC3", "invalid utf-8 sequence of 2 bytes from index 0"},  // the first fault only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hex(c.bytes));
    EXPECT_EQ(utf8_error_detail(c.bytes), c.detail);
  }
}

TEST(EncodeResponse, ByteExactAndRefusesTextThatIsNotUtf8) {
  EXPECT_EQ(hex(*encode_response(CliResponse{CliResponse::Stdout{"hi"}})), "01000000" "0200000000000000" "6869");
  EXPECT_EQ(hex(*encode_response(CliResponse{CliResponse::Exit{-1}})), "03000000ffffffff");
  EXPECT_EQ(hex(*encode_response(CliResponse{CliResponse::PromptOpenBehavior{}})), "04000000");
  EXPECT_FALSE(encode_response(CliResponse{CliResponse::Stderr{"\xFF"}}));
}

// A message as the one-shot connection delivers it: `payload` with the ends
// of fresh socket pairs as its channels. `peers` keeps the other ends, so a
// test can see which of the message's ends were closed.
IpcMessage message_with_channels(std::string payload, std::size_t n, std::vector<UniqueFd>& peers) {
  IpcMessage message;
  message.payload = std::move(payload);
  for (std::size_t i = 0; i < n; ++i) {
    auto [end, peer] = testing::seqpacket_pair();
    message.channels.push_back(std::move(end));
    peers.push_back(std::move(peer));
  }
  return message;
}

TEST(DecodeHandshake, TakesTheNamedEndsAndClosesTheRest) {
  std::vector<UniqueFd> peers;
  IpcMessage message = message_with_channels(le64(0) + le64(1) + "ignored", 3, peers);
  const int first = message.channels[0].get();
  const int second = message.channels[1].get();
  auto handshake = decode_handshake(std::move(message));
  ASSERT_TRUE(handshake) << handshake.error().display();
  EXPECT_EQ(handshake->requests.fd(), first);
  EXPECT_EQ(handshake->responses.fd(), second);
  EXPECT_TRUE(testing::peer_closed(peers[2].get()));  // named by no index
  EXPECT_FALSE(testing::peer_closed(peers[0].get()) || testing::peer_closed(peers[1].get()));

  // The indices, not the arrival order, decide which end is which.
  peers.clear();
  handshake = decode_handshake(message_with_channels(le64(1) + le64(0), 2, peers));
  ASSERT_TRUE(handshake);
  ASSERT_TRUE(handshake->requests.send("x"));
  EXPECT_EQ(testing::read_packet(peers[1].get(), 64).data, le64(1) + "x");
}

TEST(DecodeHandshake, MalformedHandshakesFailAndCloseWhatTheyTook) {
  struct Case {
    std::string payload;
    std::size_t channels;
    std::string error;
  };
  const Case cases[] = {
      {le64(0), 2, "io error: unexpected end of file"},
      {"", 2, "io error: unexpected end of file"},
      {le64(0) + "1234567", 2, "io error: unexpected end of file"},
      {le64(0) + le64(5), 2, "channel index 5 names no descriptor: the message carries 2"},
      {le64(0) + le64(1), 0, "channel index 0 names no descriptor: the message carries 0"},
      {le64(1) + le64(1), 2, "channel index 1 names a descriptor already taken"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hex(c.payload));
    std::vector<UniqueFd> peers;
    auto handshake = decode_handshake(message_with_channels(c.payload, c.channels, peers));
    ASSERT_FALSE(handshake);
    EXPECT_EQ(handshake.error().display(), c.error);
    for (const auto& peer : peers) EXPECT_TRUE(testing::peer_closed(peer.get()));
  }
}

TEST(SendHandshake, IsTheTwentyFourBytePacketWithBothEnds) {
  auto [connection, accepted] = testing::seqpacket_pair();
  auto requests = *channel();
  auto responses = *channel();
  IpcSender connection_sender(std::move(connection));
  ASSERT_TRUE(send_handshake(connection_sender, Handshake{std::move(requests.sender), std::move(responses.receiver)}));
  testing::RawPacket packet = testing::read_packet(accepted.get(), 4096);
  EXPECT_EQ(hex(packet.data), "1000000000000000" "0000000000000000" "0100000000000000");
  ASSERT_EQ(packet.fds.size(), 2u);
  // The first descriptor reaches the request receiver, the second is the
  // response receiver; the sender's own copies were closed by the send.
  ASSERT_TRUE(IpcSender(std::move(packet.fds[0])).send("r"));
  auto request = requests.receiver.receive();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->payload, "r");
  ASSERT_TRUE(responses.sender.send("s"));
  EXPECT_EQ(testing::read_packet(packet.fds[1].get(), 64).data, le64(1) + "s");
}

}  // namespace
}  // namespace kiv::ipc
