// Reads lines from a descriptor (the terminal) in a way another thread can interrupt, so
// that a prompt whose request went away does not keep waiting for the user.
#pragma once

#include <memory>
#include <string>

#include "common/result.hpp"

namespace ombrel::devserver {

enum class ReadEvent { Line, Woken, Closed };

struct ReadResult {
  ReadEvent event = ReadEvent::Closed;
  std::string line;  // without the line break (and without a CR before it)
};

class LineReader {
 public:
  // Does not take ownership of input_fd.
  static Result<std::unique_ptr<LineReader>> create(int input_fd);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line; Woken when wake() was called since the last Woken; Closed at the end of
  // input or on a read error (a last line without a line break comes first).
  ReadResult next();
  // Makes a current or the next call of next() return Woken. Safe from any thread.
  void wake();

 private:
  LineReader(int input_fd, int wake_read, int wake_write)
      : input_fd_(input_fd), wake_read_(wake_read), wake_write_(wake_write) {}

  bool take_line(std::string& line);

  int input_fd_;
  int wake_read_;
  int wake_write_;
  std::string buffer_;
  bool input_ended_ = false;
};

}  // namespace ombrel::devserver
