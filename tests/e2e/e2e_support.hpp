// Running the built kiv against the stand-in editor: the stand-in's record,
// a stand-in serving the hand-over socket, processes whose output is read
// later, and runs on a pseudo-terminal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace kiv::e2e {

using nlohmann::json;

/// The JSON Lines record at `path`, one object per complete line (a line
/// still being written is left out). Missing file: empty.
std::vector<json> read_record(const std::string& path);

/// The record's objects whose "event" is `event`.
std::vector<json> record_events(const std::string& path, const std::string& event);

/// Polls `done` every few milliseconds until it holds or `limit` has passed;
/// returns whether it held. A bound for waits on other processes, never a
/// measurement.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

/// A process started in its own process group whose standard output and
/// error go to pipes that are read only by finish(). Whatever is left of its
/// group is killed when the object goes.
class Spawned {
 public:
  explicit Spawned(const testing::RunOptions& options);
  ~Spawned();
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  pid_t pid() const { return pid_; }
  /// Reads both pipes to their end and waits for the process, within the
  /// options' time limit (then the group is killed and timed_out set).
  testing::RunResult finish();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  std::chrono::milliseconds timeout_;
};

/// The stand-in serving the hand-over socket (KIV_STAND_IN_SERVE) in the
/// background, with the environment `env`; ready once it records that it
/// listens. Stopped (SIGTERM, then SIGKILL of its group) when the object goes.
class ServingEditor {
 public:
  ServingEditor(std::map<std::string, std::string> env, const std::string& record,
                std::optional<std::string> user_data_dir = std::nullopt, const std::string& cwd = "");
  ~ServingEditor();
  ServingEditor(const ServingEditor&) = delete;
  ServingEditor& operator=(const ServingEditor&) = delete;

  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }
  /// The socket path it recorded binding.
  const std::string& socket() const { return socket_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string socket_;
};

/// Runs a program with a pseudo-terminal as its standard input, output and
/// error (a new session, the terminal its controlling one), within the
/// options' time limit. `out` holds what it wrote to the terminal.
testing::RunResult run_in_pty(const testing::RunOptions& options);

/// Kills (SIGKILL) every stand-in the record says was started, except
/// `spare`, if it is still a kiv-editor: detached ones outlive the test's
/// process groups.
void kill_recorded_editors(const std::string& record, pid_t spare = -1);

/// Blocks `signals` in the calling thread for the object's lifetime, so that
/// a program the test starts meanwhile starts with them blocked.
class ScopedBlockedSignals {
 public:
  explicit ScopedBlockedSignals(std::initializer_list<int> signals);
  ~ScopedBlockedSignals();
  ScopedBlockedSignals(const ScopedBlockedSignals&) = delete;
  ScopedBlockedSignals& operator=(const ScopedBlockedSignals&) = delete;

 private:
  sigset_t old_;
};

/// The mask of signals `pid` blocks, from the SigBlk line of its
/// /proc/PID/status; nothing when that cannot be read.
std::optional<std::uint64_t> blocked_signals(pid_t pid);

/// A test with its own HOME, TMPDIR, XDG directories and data directory,
/// the stand-in recording into record() and, once script() has been
/// called, following that script.
class E2eTest : public ::testing::Test {
 protected:
  E2eTest();
  ~E2eTest() override;

  /// kiv with `args`, run in work() unless told otherwise.
  testing::RunOptions kiv(std::vector<std::string> args) const;
  /// Writes the stand-in's script (read anew by every session).
  void script(const std::string& text);
  const std::string& record() const { return record_; }
  /// The canonical working directory of the runs.
  const std::string& work() const { return work_; }
  /// The "request" objects of the record, in order.
  std::vector<json> requests() const;
  /// The one Open request of the record (fails the test when there is not
  /// exactly one).
  json only_open_request() const;

  testing::ScopedTempDir home_;
  std::map<std::string, std::string> env_;

 private:
  std::string record_;
  std::string work_;
};

}  // namespace kiv::e2e
