// A ProcessRunner that answers from a script and records every command it was given.
#pragma once

#include <functional>

#include "process.hpp"

namespace ombrel::launcher::test {

inline Captured exited(int code, std::string out = "", std::string err = "") {
  return Captured{WaitStatus{false, code}, std::move(out), std::move(err), ""};
}

struct FakeRunner : ProcessRunner {
  explicit FakeRunner(std::function<Result<Captured>(const Command&)> s) : script(std::move(s)) {}
  Result<Captured> run(const Command& command) override {
    commands.push_back(command);
    return script(command);
  }
  std::function<Result<Captured>(const Command&)> script;
  std::vector<Command> commands;
};

}  // namespace ombrel::launcher::test
