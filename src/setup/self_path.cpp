#include "self_path.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include "common/self_exe.hpp"

namespace ombrel::setup {
namespace {

std::optional<std::string> real(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) == nullptr) return std::nullopt;
  return std::string(buf);
}

bool executable(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

Result<std::string> own_program(const char* argv0) {
  if (auto path = system_executable_path()) {
    if (auto resolved = real(*path)) return *resolved;
  }
  const std::string word = argv0 != nullptr ? argv0 : "";
  if (word.find('/') != std::string::npos) {
    if (auto resolved = real(word)) return *resolved;
  }
  return fail("cannot tell where this program is (" + word + ")");
}

Result<std::string> hook_beside(const char* argv0) {
  auto self = own_program(argv0);
  if (!self) return fail(self.error());
  const std::string dir = self.value().substr(0, self.value().rfind('/'));
  const std::string hook = dir + "/ombrel-hook";
  if (!executable(hook))
    return fail("ombrel-hook is not installed beside ombrel-setup (in " + dir + ")");
  auto resolved = real(hook);
  if (!resolved) return fail("cannot resolve " + hook);
  return *resolved;
}

}  // namespace ombrel::setup
