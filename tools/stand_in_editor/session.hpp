// One session of the stand-in with kiv: connect to the one-shot server a
// hand-over URL names, hand over the channels, then run the script.
#pragma once

#include <string>
#include <vector>

#include "ipc/messages.hpp"
#include "record.hpp"

namespace kiv::stand_in {

/// Runs session number `number` for `url`, which came by `via` ("argv" or
/// "datagram"). Everything that happens goes to `record`. Returns false when
/// the session could not start: the URL is no hand-over URL, or connecting
/// to its server failed.
bool run_session(const Record& record, int number, const std::string& url, const char* via);

/// The Stdout lines `describe` sends for `request` (none received yet: null).
std::vector<std::string> describe(const ipc::CliRequest* request);

}  // namespace kiv::stand_in
