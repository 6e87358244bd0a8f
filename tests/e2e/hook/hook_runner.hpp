// Runs the built ombrel-hook the way an agent does, in a private home directory, against
// a server URL of the test's choosing.
#pragma once

#include <string>
#include <vector>

#include "fake_server.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {

class HookRun {
 public:
  HookRun();  // a fresh HOME; OMBREL_HOOK_LOG points into it; no OMBREL_SERVER yet

  HookRun& server(const std::string& url);
  HookRun& env(const std::string& name, const std::string& value);
  HookRun& unset(const std::string& name);
  HookRun& args(std::vector<std::string> extra);  // after the program name
  HookRun& input(std::string stdin_data);
  HookRun& close_stdout_early();

  ProcessOptions options() const;
  ProcessResult run() const;
  ChildProcess start() const;

  const TempDir& home() const { return home_; }
  std::string log_path() const;
  std::string log() const;                        // the whole debug log
  std::vector<std::string> log_messages() const;  // entries without their timestamps

 private:
  TempDir home_;
  ProcessOptions options_;
};

// The path of a server on which nothing listens.
std::string dead_server_url();

}  // namespace ombrel::test
