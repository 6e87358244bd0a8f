#include "output.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <system_error>

namespace ombrel::devserver {

namespace {

// Writes everything unless the descriptor fails; EINTR is retried.
bool write_fully(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

Console::Console(int fd, bool input_echoes)
    : fd_(fd), input_echoes_(input_echoes), is_terminal_(::isatty(fd) == 1) {}

void Console::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::string out;
  // Back to the start of the prompt's line and clear it, or, where that cannot be done,
  // leave it behind.
  if (!input_line_.empty()) out += is_terminal_ ? "\r\033[K" : "\n";
  out += text;
  out += "\n";
  out += input_line_;
  write_all(out);
}

std::size_t Console::columns() const {
  constexpr std::size_t kUnknownWidth = 80;
  winsize size{};
  if (!is_terminal_ || ::ioctl(fd_, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
    return kUnknownWidth;
  return size.ws_col;
}

void Console::show_prompt(const std::vector<std::string>& lines, std::string input_line) {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const std::string& text : lines) out += text + "\n";
  out += input_line;
  input_line_ = std::move(input_line);
  write_all(out);
}

void Console::end_prompt() {
  std::lock_guard lock(mutex_);
  if (input_line_.empty()) return;
  input_line_.clear();
  if (!input_echoes_) write_all("\n");
}

// A reader that went away (a closed pipe) must not stop the server: output is then lost.
void Console::write_all(std::string_view text) {
  (void)write_fully(fd_, text);
}

Result<std::unique_ptr<EventsFile>> EventsFile::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot open " + path + ": " + std::generic_category().message(errno));
  return std::unique_ptr<EventsFile>(new EventsFile(fd, path));
}

EventsFile::~EventsFile() {
  ::close(fd_);
}

Status EventsFile::append(const Json& document) {
  const std::string line = compact(document) + "\n";
  std::lock_guard lock(mutex_);
  // One write per line: with O_APPEND a line lands whole even when others append too.
  if (!write_fully(fd_, line))
    return fail("cannot write to " + path_ + ": " + std::generic_category().message(errno));
  return {};
}

}  // namespace ombrel::devserver
