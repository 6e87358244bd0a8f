// Where the system says the running program is, for the programs that find their siblings
// (the launcher's exec step, setup's hook beside it).
#pragma once

#include <limits.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cstdint>
#include <optional>
#include <string>

namespace ombrel {

// The path the system records for this process (macOS, Linux); nothing elsewhere, where the
// callers fall back to argv[0]. The path may hold links: callers resolve it.
inline std::optional<std::string> system_executable_path() {
#if defined(__APPLE__)
  char buf[PATH_MAX];
  std::uint32_t size = sizeof buf;
  if (_NSGetExecutablePath(buf, &size) == 0) return std::string(buf);
#elif defined(__linux__)
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, n);
#endif
  return std::nullopt;
}

}  // namespace ombrel
