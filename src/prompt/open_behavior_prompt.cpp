#include "prompt/open_behavior_prompt.hpp"

#include <unistd.h>

#include "prompt/color.hpp"
#include "prompt/select.hpp"

namespace kiv {

std::string open_behavior_prompt_text() {
  return "Configure default behavior for " + style_blue("kiv <path>") + "\nYou can change this later in Kiv settings";
}

std::array<std::string, 2> open_behavior_item_texts() {
  return {
      "Add to existing Kiv window (" + style_blue("kiv --existing") + ")",
      "Open a new window (" + style_blue("kiv --classic") + ")",
  };
}

size_t ask_open_behavior() {
  if (::isatty(STDIN_FILENO) != 1) return 0;
  const std::array<std::string, 2> items = open_behavior_item_texts();
  Result<size_t> chosen = select_on_stderr(open_behavior_prompt_text(), items, 0);
  // A prompt that could not be shown or answered leaves the default in place.
  if (!chosen) return 0;
  return *chosen == 0 ? 0 : 1;
}

}  // namespace kiv
