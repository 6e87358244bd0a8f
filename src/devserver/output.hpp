// Where the server's output goes: readable lines on the console and, optionally, every
// state report as one JSON line in a file. Both are safe to use from many threads, and
// neither lets a failed write stop the server.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "json_fields.hpp"

namespace ombrel::devserver {

// Writes whole lines to a descriptor, one write per line, so that lines of different
// threads never mix. While a prompt waits for input, other lines appear above a repeated
// prompt instead of inside it; on a terminal the old prompt line is erased first.
class Console {
 public:
  // input_echoes: typed input shows on the console (a terminal), so the user's Enter
  // ends the prompt's line; otherwise the console ends it.
  Console(int fd, bool input_echoes);

  void line(std::string_view text);
  // The terminal's width in columns, asked anew each time (it may be resized); 80 when the
  // console is not a terminal or does not say.
  std::size_t columns() const;
  void show_prompt(const std::vector<std::string>& lines, std::string input_line);
  void end_prompt();

 private:
  void write_all(std::string_view text);

  std::mutex mutex_;
  int fd_;
  bool input_echoes_;
  bool is_terminal_;
  std::string input_line_;  // empty when no prompt is shown
};

// Appends one compact JSON document per line to a file opened for appending.
class EventsFile {
 public:
  static Result<std::unique_ptr<EventsFile>> open(const std::string& path);
  ~EventsFile();
  EventsFile(const EventsFile&) = delete;
  EventsFile& operator=(const EventsFile&) = delete;

  Status append(const Json& document);

 private:
  EventsFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  std::mutex mutex_;
  int fd_;
  std::string path_;
};

}  // namespace ombrel::devserver
