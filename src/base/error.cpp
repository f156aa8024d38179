#include "base/error.hpp"

#include <cerrno>
#include <cstring>

namespace kiv {

Error::Error(std::string message) { chain_.push_back(std::move(message)); }

Error Error::os(int errnum) {
  Error error(os_error_description(errnum) + " (os error " + std::to_string(errnum) + ")");
  error.os_code_ = errnum;
  return error;
}

Error Error::last_os() { return os(errno); }

Error& Error::add_context(std::string context) & {
  chain_.push_back(std::move(context));
  return *this;
}

Error&& Error::add_context(std::string context) && {
  chain_.push_back(std::move(context));
  return std::move(*this);
}

std::string Error::display() const {
  std::string out;
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    if (it != chain_.rbegin()) out += ": ";
    out += *it;
  }
  return out;
}

std::string os_error_description(int errnum) {
  char buffer[256];
  // The GNU strerror_r returns a pointer that may or may not be `buffer`.
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  return text;
}

}  // namespace kiv
