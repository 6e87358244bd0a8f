// A ProcessRunner that answers from a script and records every command line it was given.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "process.hpp"

namespace ombrel::launcher::test {

inline Captured exited(int code, std::string out = "", std::string err = "") {
  return Captured{WaitStatus{false, code}, std::move(out), std::move(err), ""};
}

class FakeRunner : public ProcessRunner {
 public:
  using Script = std::function<Result<Captured>(const Command&)>;
  explicit FakeRunner(Script script) : script_(std::move(script)) {}
  Result<Captured> run(const Command& command) override {
    commands.push_back(command);
    return script_(command);
  }
  std::vector<Command> commands;

 private:
  Script script_;
};

}  // namespace ombrel::launcher::test
