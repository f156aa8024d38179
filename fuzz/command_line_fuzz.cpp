// kiv's command line on any arguments, with help and usage errors rendered
// at any width, coloured or not. Input: one byte for the width and colour,
// then the arguments separated by NUL bytes (the first is the program name).
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_check.hpp"
#include "cli/command_line.hpp"

namespace {

std::size_t width_from(std::uint8_t byte) {
  switch (byte >> 1) {
    case 127:
      return std::numeric_limits<std::size_t>::max();
    case 126:
      return std::numeric_limits<std::size_t>::max() - 1;
    case 125:
      return std::size_t{1} << 32;
    case 124:
      return 100000;
    default:
      return byte >> 1;  // 0 to 123
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const kiv::cmdline::RenderSettings settings{.width = width_from(data[0]), .colour = (data[0] & 1) != 0};
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> args;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = rest.find('\0', start);
    args.emplace_back(rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }

  auto outcome = kiv::parse_command_line(args, [&](kiv::cmdline::Stream) { return settings; });
  if (auto* exit = std::get_if<kiv::CommandLineExit>(&outcome)) {
    FUZZ_CHECK(exit->status == 0 || exit->status == 2);
    FUZZ_CHECK(!exit->text.empty());
    // Uncoloured output carries no escape sequence but those the user typed.
    bool typed_escape = false;
    for (const std::string& arg : args) typed_escape = typed_escape || arg.find('\x1b') != std::string::npos;
    if (!settings.colour && !typed_escape) FUZZ_CHECK(exit->text.find('\x1b') == std::string::npos);
  }
  return 0;
}
