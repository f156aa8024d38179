// The stand-in's record: one JSON object per line, appended as things
// happen, to the file KIV_STAND_IN_RECORD names (described in README.md).
#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

#include "base/error.hpp"
#include "base/unique_fd.hpp"
#include "ipc/messages.hpp"

namespace kiv::stand_in {

class Record {
 public:
  /// The record KIV_STAND_IN_RECORD names, opened for appending (created
  /// 0644 if missing); without the variable, a record that keeps nothing.
  /// Fails with "cannot open the record {path}: {os error}".
  [[nodiscard]] static Result<Record> open_from_env();

  /// Appends `event` as one line, with one write so that lines of several
  /// stand-ins sharing the file never mix. A failed write is ignored.
  void write(const nlohmann::json& event) const;

 private:
  explicit Record(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

/// A byte string: a JSON string when it is UTF-8, else {"hex": "..."}.
nlohmann::json bytes_json(std::string_view bytes);

/// Every field of `request`, under "kind" and the fields' own names.
nlohmann::json request_json(const ipc::CliRequest& request);

}  // namespace kiv::stand_in
