#include "line_reader.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <system_error>

namespace ombrel::devserver {

namespace {

// A line longer than this is cut: nobody types it, and the buffer must stay bounded.
constexpr std::size_t kMaxLine = 64 * 1024;

bool set_flags(int fd) {
  int status = fcntl(fd, F_GETFL);
  int descriptor = fcntl(fd, F_GETFD);
  return status >= 0 && descriptor >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, descriptor | FD_CLOEXEC) == 0;
}

}  // namespace

Result<std::unique_ptr<LineReader>> LineReader::create(int input_fd) {
  int fds[2];
  if (::pipe(fds) != 0) return fail("pipe: " + std::generic_category().message(errno));
  if (!set_flags(fds[0]) || !set_flags(fds[1])) {
    std::string error = std::generic_category().message(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return fail("pipe flags: " + error);
  }
  return std::unique_ptr<LineReader>(new LineReader(input_fd, fds[0], fds[1]));
}

LineReader::~LineReader() {
  ::close(wake_read_);
  ::close(wake_write_);
}

void LineReader::wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost by dropping this one.
  while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
  }
}

bool LineReader::take_line(std::string& line) {
  std::size_t end = buffer_.find('\n');
  if (end == std::string::npos) {
    if (buffer_.size() < kMaxLine && !input_ended_) return false;
    if (buffer_.empty()) return false;
    end = std::min(buffer_.size(), kMaxLine);
    line = buffer_.substr(0, end);
    buffer_.erase(0, end);
  } else {
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

ReadResult LineReader::next() {
  for (;;) {
    std::string line;
    if (take_line(line)) return {ReadEvent::Line, std::move(line)};
    if (input_ended_) return {ReadEvent::Closed, {}};

    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {input_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      input_ended_ = true;
      continue;
    }
    if (fds[0].revents != 0) {
      char drain[64];
      while (::read(wake_read_, drain, sizeof drain) > 0) {
      }
      return {ReadEvent::Woken, {}};
    }
    if (fds[1].revents == 0) continue;
    char chunk[4096];
    ssize_t got = ::read(input_fd_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      input_ended_ = true;
    }
  }
}

}  // namespace ombrel::devserver
