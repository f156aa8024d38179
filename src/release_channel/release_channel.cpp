#include "release_channel/release_channel.hpp"

#include "base/text.hpp"

namespace kiv {
namespace {

// Every build of kiv is "stable". Tests compile this file once more with
// another KIV_RELEASE_CHANNEL to run kiv as a build of another channel.
#ifndef KIV_RELEASE_CHANNEL
#define KIV_RELEASE_CHANNEL "stable"
#endif
constexpr const char* kCompiledChannel = KIV_RELEASE_CHANNEL;

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
