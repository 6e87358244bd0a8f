// Runs a program the way an agent or a user would: argv, environment, stdin bytes in;
// stdout, stderr and the wait status out. No shell is involved.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ombrel::test {

// An environment as an ordered list of NAME=VALUE entries.
class Environment {
 public:
  static Environment current();  // a copy of this process's environment
  static Environment empty() { return Environment{}; }

  Environment& set(const std::string& name, const std::string& value);
  Environment& unset(const std::string& name);
  std::optional<std::string> get(const std::string& name) const;
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

struct ProcessOptions {
  std::vector<std::string> argv;  // argv[0] is the program path
  Environment env = Environment::current();
  std::string stdin_data;
  bool close_stdout_early = false;           // the reader goes away before the child writes
  std::string cwd;                           // empty: the current directory
  std::chrono::milliseconds timeout{20000};  // the child is killed after this
  // stdin_data unused: the test writes with feed() and ends with end_input()
  bool hold_stdin = false;
  // stdin is a terminal (without echo): implies hold_stdin; end_input() types Ctrl-D
  bool stdin_terminal = false;
  // these of the descriptors 0-2 are closed when the child starts
  std::vector<int> closed_at_start{};
};

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;   // valid when exited() is true
  int term_signal = 0;  // non-zero when the child was ended by a signal
  bool timed_out = false;
  std::chrono::milliseconds elapsed{0};
  std::chrono::steady_clock::time_point streams_closed_at;  // the child's stdout and stderr
  long peak_rss_kib = 0;

  bool exited() const { return term_signal == 0 && exit_code >= 0; }
};

// A started child whose standard streams are pumped on a background thread.
class ChildProcess {
 public:
  explicit ChildProcess(ProcessOptions options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void send_signal(int signal) const;
  // With hold_stdin: writes to the child's stdin (stopping quietly when the child no longer
  // reads), and closes it.
  void feed(std::string_view bytes);
  void end_input();
  // Waits until the child's stderr holds the text; false on timeout or when it closed.
  bool wait_for_stderr(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  ProcessResult wait();  // waits for the exit (or the timeout) and returns everything collected

 private:
  void pump(int in_fd);

  ProcessOptions options_;
  pid_t pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
  std::chrono::steady_clock::time_point started_;
  ProcessResult result_;
  std::mutex mutex_;  // result_.err while the pump runs
  std::condition_variable err_changed_;
  bool pumping_ = true;
  std::thread pumper_;
  bool waited_ = false;
};

ProcessResult run_process(ProcessOptions options);

}  // namespace ombrel::test
