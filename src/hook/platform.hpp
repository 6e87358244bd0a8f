// The hook's contact with the outside world, behind one seam: stdin, stdout, stderr and
// the desktop server. Nothing else in the hook writes to stdout or stderr. PosixPlatform is
// the real one; tests and fuzzing substitute theirs.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "json_text.hpp"

namespace ombrel::hook {

// What the permission wait needs to withdraw approvals when the hook is told to stop.
struct CancelTarget {
  std::optional<std::string> session;  // nothing: no cancel request is sent
  std::string server;
  std::string source;
  std::string log_path;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // All of standard input, which is UTF-8 throughout: other bytes are a failure, with the
  // text "stream did not contain valid UTF-8".
  virtual Result<std::string> read_stdin() = 0;
  virtual Status write_stdout(std::string_view text) = 0;
  virtual void write_stderr(std::string_view text) = 0;
  virtual Result<Json> post(const std::string& url, const Json& body,
                            std::chrono::milliseconds timeout) = 0;
  // The blocking permission request; may end the process when a termination signal comes.
  virtual Result<Json> post_interruptible(const std::string& url, const Json& body,
                                          std::chrono::milliseconds timeout,
                                          const CancelTarget& cancel) = 0;
};

// Gives each of the descriptors 0, 1 and 2 that is closed /dev/null. Called first, before
// anything is opened: a log or a socket opened as 1 or 2 would receive the agent's answer.
void open_missing_standard_streams();

class PosixPlatform final : public Platform {
 public:
  // From a terminal (a person trying the hook, never an agent) it first says on stderr what
  // it waits for, and Ctrl-C ends the hook while it waits.
  Result<std::string> read_stdin() override;
  Status write_stdout(std::string_view text) override;
  void write_stderr(std::string_view text) override;
  Result<Json> post(const std::string& url, const Json& body,
                    std::chrono::milliseconds timeout) override;
  Result<Json> post_interruptible(const std::string& url, const Json& body,
                                  std::chrono::milliseconds timeout,
                                  const CancelTarget& cancel) override;
};

// The compact JSON text of a value on the platform's stdout, without a line break.
Status print_json(Platform& platform, const Json& value);

}  // namespace ombrel::hook
