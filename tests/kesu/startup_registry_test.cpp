// The registry of the built kiv itself, read from the memory of a running
// kiv: the registrations must have survived the linker (kiv links archives
// with section garbage collection, and nothing refers to them) and run before
// main. kiv is held in its askpass relay, which waits for the server's answer,
// while the test reads the registry through /proc/PID/mem.
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "base/unique_fd.hpp"
#include "kesu/action.hpp"
#include "test_support.hpp"

namespace kesu {
namespace {

using kiv::UniqueFd;
namespace t = kiv::testing;

// The test reads these records as raw memory of the other process.
static_assert(sizeof(ActionRegistry) == sizeof(void*));
static_assert(offsetof(ActionRegistry::Node, item) == 0 && offsetof(ActionRegistry::Node, next) == sizeof(void*));
static_assert(offsetof(MacroActionBuilder, function) == 0);

// Defined symbols of the kiv executable, demangled name to address.
std::map<std::string, std::uint64_t> symbols_of(const std::string& binary) {
  t::RunOptions options;
  options.argv = {"/usr/bin/nm", "--defined-only", "--demangle", binary};
  options.env = {{"PATH", "/usr/bin:/bin"}, {"LANG", "C"}};
  t::RunResult result = t::run_process(options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::map<std::string, std::uint64_t> symbols;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    // "<hex address> <kind> <name>"
    const auto first = line.find(' ');
    if (first == std::string::npos || line.size() < first + 3) continue;
    symbols[line.substr(first + 3)] = std::stoull(line.substr(0, first), nullptr, 16);
  }
  return symbols;
}

// How far the process moved the executable's link-time addresses: the start
// of its first mapping for a position-independent executable, else zero.
std::uint64_t load_bias(pid_t pid, const std::string& binary) {
  Elf64_Ehdr header{};
  std::ifstream(binary, std::ios::binary).read(reinterpret_cast<char*>(&header), sizeof header);
  if (header.e_type != ET_DYN) return 0;
  const std::string path = std::filesystem::canonical(binary);
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    // "start-end perms offset dev inode path"
    std::istringstream fields(line);
    std::string range, perms, offset, dev, inode, file;
    fields >> range >> perms >> offset >> dev >> inode >> file;
    if (file == path && std::stoull(offset, nullptr, 16) == 0) return std::stoull(range, nullptr, 16);
  }
  ADD_FAILURE() << "no mapping of " << path;
  return 0;
}

std::uint64_t read_word(int mem, std::uint64_t address) {
  std::uint64_t word = 0;
  EXPECT_EQ(::pread(mem, &word, sizeof word, static_cast<off_t>(address)), ssize_t(sizeof word))
      << std::hex << address << ": " << std::strerror(errno);
  return word;
}

// Waits for one askpass connection and returns it (empty after 20 seconds).
UniqueFd accept_one(int listener) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, 20000) != 1) return UniqueFd();
  return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

using Symbols = std::map<std::string, std::uint64_t>;

const std::string kUnbindRegistration = "kesu::unbind_registration()";
const std::string kNoActionRegistration = "kesu::no_action_registration()";

// Takes kiv's askpass connection on `listener` and, while kiv waits for the
// answer, walks its registry: the names of the items' functions, in order.
// kiv gets its (empty) answer when the connection closes on return.
void walk_registry_of_connecting_kiv(int listener, const std::string& kiv, Symbols& symbols,
                                     std::vector<std::string>& walked) {
  UniqueFd peer = accept_one(listener);
  ASSERT_TRUE(peer) << "kiv never connected";
  ucred credentials{};
  socklen_t length = sizeof credentials;
  ASSERT_EQ(::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length), 0);
  std::string prompt;
  char c;
  while (::read(peer.get(), &c, 1) == 1 && c != '\0') prompt += c;
  EXPECT_EQ(prompt, "prompt");

  const std::uint64_t bias = load_bias(credentials.pid, kiv);
  UniqueFd mem(::open(("/proc/" + std::to_string(credentials.pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(mem) << std::strerror(errno);
  auto name_at = [&symbols](std::uint64_t function) {
    for (const std::string& name : {kUnbindRegistration, kNoActionRegistration}) {
      if (symbols[name] == function) return name;
    }
    std::ostringstream unknown;
    unknown << "something else at 0x" << std::hex << function;
    return unknown.str();
  };
  std::uint64_t node = read_word(mem.get(), bias + symbols["kesu::REGISTRY"]);
  while (node != 0 && walked.size() < 8) {
    const std::uint64_t builder = read_word(mem.get(), node + offsetof(ActionRegistry::Node, item));
    walked.push_back(name_at(read_word(mem.get(), builder + offsetof(MacroActionBuilder, function)) - bias));
    node = read_word(mem.get(), node + offsetof(ActionRegistry::Node, next));
  }
}

TEST(StartupRegistry, TheBuiltKivHoldsUnbindThenNoActionOnceMainRuns) {
  const std::string kiv = t::kiv_binary();
  Symbols symbols = symbols_of(kiv);
  for (const std::string& name : {std::string("kesu::REGISTRY"), kUnbindRegistration, kNoActionRegistration}) {
    ASSERT_TRUE(symbols.contains(name)) << name << " is not in " << kiv;
  }

  t::ScopedTempDir home;
  const std::string socket_path = home.sub("askpass.sock");
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_path.data(), socket_path.size());
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);

  t::RunOptions options = t::kiv_run_options(home.path(), {"prompt"});
  options.env["KIV_ASKPASS_SOCKET"] = socket_path;
  t::RunResult result;
  std::thread run([&] { result = t::run_process(options); });
  std::vector<std::string> walked;
  walk_registry_of_connecting_kiv(listener.get(), kiv, symbols, walked);
  run.join();

  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(walked, (std::vector<std::string>{kUnbindRegistration, kNoActionRegistration}));
}

}  // namespace
}  // namespace kesu
