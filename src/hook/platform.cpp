#include "platform.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "http.hpp"
#include "input.hpp"
#include "runtime.hpp"

namespace ombrel::hook {

void open_missing_standard_streams() {
  // Lowest first: open() then returns exactly the descriptor that is missing.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

Result<std::string> PosixPlatform::read_stdin() {
  if (isatty(STDIN_FILENO) != 1) return hook::read_stdin();
  // Signals first: a Ctrl-C that follows the notice must end the hook.
  TerminationSignalsEndTheHook person_at_the_terminal;
  write_stderr(
      "[ombrel-hook] Reading one JSON payload from stdin; end it with Ctrl-D, or quit with "
      "Ctrl-C. See ombrel-hook --help.\n");
  return hook::read_stdin();
}

Status PosixPlatform::write_stdout(std::string_view text) {
  return write_all(STDOUT_FILENO, text);
}

void PosixPlatform::write_stderr(std::string_view text) {
  (void)write_all(STDERR_FILENO, text);
}

Result<Json> PosixPlatform::post(const std::string& url, const Json& body,
                                 std::chrono::milliseconds timeout) {
  return post_json(url, body, timeout);
}

Result<Json> PosixPlatform::post_interruptible(const std::string& url, const Json& body,
                                               std::chrono::milliseconds timeout,
                                               const CancelTarget& cancel) {
  return post_json_interruptible(*this, url, body, timeout, cancel);
}

Status print_json(Platform& platform, const Json& value) {
  return platform.write_stdout(compact_json(value));
}

}  // namespace ombrel::hook
