#include "environment.hpp"

#include <unistd.h>

extern char** environ;

namespace ombrel::setup {

Env Env::from_process() {
  Env env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) env.vars.emplace(text.substr(0, eq), text.substr(eq + 1));
  }
  return env;
}

}  // namespace ombrel::setup
