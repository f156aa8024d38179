#include "release_channel/release_channel.hpp"

#include "base/text.hpp"

namespace kiv {
namespace {

constexpr const char* kCompiledChannel = "stable";

std::string init_release_channel_name() { return compile_time_release_channel_name(); }

}  // namespace

std::string compile_time_release_channel_name() {
  return std::string(trim_unicode_white_space(kCompiledChannel));
}

const std::string& ReleaseChannelName::get() const {
  static const std::string name = init_release_channel_name();
  return name;
}

}  // namespace kiv
