// The release channel this build belongs to.
#pragma once

#include <string>

namespace kiv {

/// The compiled-in channel text with Unicode white space trimmed at both
/// ends, as a new text: "stable".
std::string compile_time_release_channel_name();

/// The process-wide release channel name: computed on the first read (by
/// init_release_channel_name), the same text on every read after.
struct ReleaseChannelName {
  const std::string& get() const;
  operator const std::string&() const { return get(); }
};
inline constexpr ReleaseChannelName RELEASE_CHANNEL_NAME{};

}  // namespace kiv
