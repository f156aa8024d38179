#include "prompt/select.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/io.hpp"
#include "prompt/terminal_key.hpp"
#include "prompt/terminal_restore.hpp"

namespace kiv {
namespace {

constexpr std::string_view HIDE_CURSOR = "\x1b[?25l";
constexpr std::string_view SHOW_CURSOR = "\x1b[?25h";
constexpr std::string_view CLEAR_LINE = "\r\x1b[2K";
constexpr std::string_view DOWN_ONE_LINE = "\x1b[1B";
constexpr size_t MARKER_WIDTH = 2;  // "> " or "  "
constexpr size_t PROMPT_LINES_RESERVED = 2;

struct TerminalSize {
  size_t rows = 0;
  size_t columns = 0;
};

// The size of the terminal on `fd`, or 24 x 80 when it has none or reports
// a zero.
TerminalSize terminal_size(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) return {size.ws_row, size.ws_col};
  return {24, 80};
}

size_t lines_of(std::string_view text) { return static_cast<size_t>(std::ranges::count(text, '\n')) + 1; }

void append_move_up(std::string& out, size_t lines) {
  out += "\x1b[";
  out += std::to_string(lines);
  out += 'A';
}

// From the line below a block of `lines` lines: blank each of them and end
// at the start of the block's first line.
void append_clear_last_lines(std::string& out, size_t lines) {
  if (lines == 0) return;
  append_move_up(out, lines);
  for (size_t i = 0; i < lines; ++i) {
    out += CLEAR_LINE;
    out += DOWN_ONE_LINE;
  }
  append_move_up(out, lines);
}

// The cursor of standard error, hidden, and shown again at the latest when
// this goes away.
class HiddenCursor {
 public:
  HiddenCursor() = default;
  HiddenCursor(const HiddenCursor&) = delete;
  HiddenCursor& operator=(const HiddenCursor&) = delete;
  ~HiddenCursor() { (void)show(); }

  [[nodiscard]] Status hide() {
    remember_hidden_cursor(STDERR_FILENO);
    hidden_ = true;
    return write_all(STDERR_FILENO, HIDE_CURSOR);
  }
  [[nodiscard]] Status show() {
    if (!hidden_) return {};
    hidden_ = false;
    Status written = write_all(STDERR_FILENO, SHOW_CURSOR);
    forget_hidden_cursor();
    return written;
  }

 private:
  bool hidden_ = false;
};

// Which items are drawn: pages of `capacity` items (the rows less two for
// the prompt); paging is active when there is more than one page.
struct Paging {
  size_t item_count = 0;
  size_t capacity = 0;
  size_t pages = 0;
  size_t page = 0;
  bool active = false;

  void fit(size_t rows) {
    capacity = rows - PROMPT_LINES_RESERVED;
    pages = (item_count + capacity - 1) / capacity;
  }
  // Moves to the page holding `selected` when it is not on the current one.
  void follow(size_t selected) {
    if (selected < page * capacity || selected >= (page + 1) * capacity) page = selected / capacity;
  }
  size_t first() const { return page * capacity; }
  size_t end() const { return std::min(first() + capacity, item_count); }
  // The first item of the next or previous page, wrapping at the ends.
  size_t next_page() {
    page = page + 1 == pages ? 0 : page + 1;
    return first();
  }
  size_t previous_page() {
    page = page == 0 ? pages - 1 : page - 1;
    return first();
  }
};

// The extra lines that wrapped items take, counted for clearing them.
// Measured in bytes, escape sequences included, not in columns: with colour
// on this counts too many on narrow terminals and may clear the prompt's
// last line, which is then not redrawn. The measure is part of the list's
// fixed byte stream, so it stays.
size_t wrapped_extra_lines(std::span<const size_t> part_lengths, size_t columns) {
  size_t extra = 0;
  for (size_t length : part_lengths) {
    if (length > columns) extra += (length + MARKER_WIDTH + columns - 1) / columns - 1;
  }
  return extra;
}

std::vector<size_t> line_part_lengths(std::span<const std::string> items) {
  std::vector<size_t> lengths;
  for (std::string_view item : items) {
    for (size_t start = 0;;) {
      size_t newline = item.find('\n', start);
      lengths.push_back((newline == std::string_view::npos ? item.size() : newline) - start);
      if (newline == std::string_view::npos) break;
      start = newline + 1;
    }
  }
  return lengths;
}

void append_prompt(std::string& out, std::string_view prompt, const Paging& paging) {
  out += prompt;
  out += ':';
  if (paging.active) {
    out += " [Page ";
    out += std::to_string(paging.page + 1);
    out += '/';
    out += std::to_string(paging.pages);
    out += "] ";
  }
  out += '\n';
}

Result<size_t> run_select(std::string_view prompt, std::span<const std::string> items, size_t selected) {
  TerminalSize size = terminal_size(STDERR_FILENO);
  if (size.rows < SELECT_MIN_ROWS) return fail("terminal too small");
  Paging paging{.item_count = items.size()};
  paging.fit(size.rows);
  paging.active = paging.pages > 1;
  paging.follow(selected);
  const std::vector<size_t> part_lengths = line_part_lengths(items);

  SignalRestoreScope signals;
  HiddenCursor cursor;
  KIV_TRY(cursor.hide());

  // Lines on screen that the next clear must take: the prompt's, and the
  // items' below it.
  size_t prompt_lines = 0;
  size_t item_lines = 0;
  bool prompt_due = true;
  std::string frame;
  for (;;) {
    // A paged prompt shows the page, so it is redrawn on every pass; a plain
    // one stays put while only the items are redrawn below it.
    if (paging.active || prompt_due) {
      append_prompt(frame, prompt, paging);
      prompt_lines = lines_of(prompt);
      item_lines = 0;
      prompt_due = false;
    }
    for (size_t i = paging.first(); i < paging.end(); ++i) {
      frame += i == selected ? "> " : "  ";
      frame += items[i];
      frame += '\n';
      item_lines += lines_of(items[i]);
    }
    KIV_TRY(write_all(STDERR_FILENO, frame));
    frame.clear();

    KIV_TRY_ASSIGN(TerminalKey key, read_terminal_key());
    switch (key.kind) {
      case KeyKind::ArrowDown:
      case KeyKind::Tab: selected = (selected + 1) % items.size(); break;
      case KeyKind::ArrowUp:
      case KeyKind::BackTab: selected = (selected + items.size() - 1) % items.size(); break;
      case KeyKind::ArrowLeft:
        if (paging.active) selected = paging.previous_page();
        break;
      case KeyKind::ArrowRight:
        if (paging.active) selected = paging.next_page();
        break;
      case KeyKind::Enter: break;
      case KeyKind::Interrupt:
        (void)cursor.show();
        ::raise(SIGINT);
        return fail("read interrupted");
      case KeyKind::Char:
        if (key.ch == 'j') selected = (selected + 1) % items.size();
        if (key.ch == 'k') selected = (selected + items.size() - 1) % items.size();
        if (key.ch == 'h' && paging.active) selected = paging.previous_page();
        if (key.ch == 'l' && paging.active) selected = paging.next_page();
        break;
      default: break;
    }
    if (key.kind == KeyKind::Enter || (key.kind == KeyKind::Char && key.ch == ' ')) {
      append_clear_last_lines(frame, item_lines + prompt_lines);
      frame += prompt;
      frame += ": ";
      frame += items[selected];
      frame += '\n';
      KIV_TRY(write_all(STDERR_FILENO, frame));
      KIV_TRY(cursor.show());
      return selected;
    }

    // Every other key redraws, after the terminal's size is read again.
    size = terminal_size(STDERR_FILENO);
    if (size.rows < SELECT_MIN_ROWS) return fail("terminal too small");
    paging.fit(size.rows);
    if (paging.active != (paging.pages > 1)) {
      paging.active = !paging.active;
      prompt_due = true;
      append_clear_last_lines(frame, paging.capacity);
    }
    paging.follow(selected);
    if (paging.active) {
      append_clear_last_lines(frame, item_lines + prompt_lines);
      prompt_lines = 0;
    } else {
      append_clear_last_lines(frame, item_lines + wrapped_extra_lines(part_lengths, size.columns));
    }
    item_lines = 0;
  }
}

}  // namespace

Result<size_t> select_on_stderr(std::string_view prompt, std::span<const std::string> items, size_t default_index) {
  if (::isatty(STDERR_FILENO) != 1) return fail("not a terminal");
  if (items.empty()) return fail("no items to choose from");
  if (default_index >= items.size()) return fail("the default item is not in the list");
  // The terminal and the signal guard are the process's, not the caller's.
  static std::mutex one_at_a_time;
  std::lock_guard lock(one_at_a_time);
  return run_select(prompt, items, default_index);
}

}  // namespace kiv
