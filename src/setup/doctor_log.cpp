#include "doctor_log.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/fd.hpp"
#include "common/utf8.hpp"

namespace ombrel::doctor {
namespace {

Error system_error(int err) {
  return fail(std::strerror(err));
}

std::string join_path(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  return a.back() == '/' ? a + b : a + "/" + b;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

// The nearest folder on the way up that exists; the hook makes the rest (mode 0700).
Result<std::string> creatable_from(const std::string& dir) {
  std::string at = dir;
  struct stat st {};
  while (lstat(at.c_str(), &st) != 0) {
    if (errno != ENOENT) return system_error(errno);
    const std::string up = parent_of(at);
    if (up == at) return fail("no folder of its path exists");
    at = up;
  }
  if (stat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(at + " is not a folder");
  if (access(at.c_str(), W_OK | X_OK) != 0) return fail("cannot create folders in " + at);
  return at;
}

// The hook's check of the log's folder, on the descriptor, without making it.
Result<Fd> open_folder(const std::string& dir) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
  Fd folder(open(dir.c_str(), flags | O_NOFOLLOW));
  struct stat st {};
  if (!folder.valid()) {
    const int err = errno;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return system_error(err);
    if (st.st_uid != geteuid()) return fail("its folder is a symbolic link another user owns");
    folder = Fd(open(dir.c_str(), flags));
    if (!folder.valid()) return system_error(errno);
  }
  if (fstat(folder.get(), &st) != 0) return system_error(errno);
  if (st.st_uid != geteuid() && st.st_uid != 0) return fail("its folder belongs to another user");
  if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0)
    return fail("anyone may change its folder");
  return folder;
}

Result<std::string> probe_file(int folder, const std::string& name) {
  struct stat st {};
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return system_error(errno);
    if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
      return fail("its folder is not writable");
    return std::string("will be created (mode 0600)");
  }
  if (S_ISLNK(st.st_mode)) {
    if (st.st_uid != geteuid()) return fail("a symbolic link another user owns");
    if (fstatat(folder, name.c_str(), &st, 0) != 0) {
      if (errno == ENOENT) return std::string("a link to a file that will be created");
      return system_error(errno);
    }
  }
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (st.st_uid != geteuid()) return fail("a file another user owns");
  if (st.st_nlink != 1) return fail("a file with more than one link");
  if (faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) return fail("not writable");
  if ((st.st_mode & 077) != 0)
    return std::string("writable; others may read it until the hook's next entry makes it 0600");
  return std::string("writable, private");
}

}  // namespace

LogSetting hook_log_setting(const std::optional<std::string>& hook_log,
                            const std::optional<std::string>& home,
                            const std::optional<std::string>& user_profile) {
  LogSetting setting;
  if (hook_log && utf8::is_valid(*hook_log)) {
    setting.path = *hook_log;
    return setting;
  }
  if (hook_log) setting.ignored = "OMBREL_HOOK_LOG is not valid UTF-8, so the hook ignores it";
  const std::string home_dir = home ? *home : user_profile ? *user_profile : std::string("/tmp");
  setting.path = join_path(home_dir, ".ombrel/hook.log");
  return setting;
}

Result<std::string> probe_log(const std::string& path) {
  const std::string dir = parent_of(path);
  const std::string name = path.substr(path.find_last_of('/') + 1);
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 && errno == ENOENT) {
    auto from = creatable_from(dir);
    if (!from) return Error{from.error()};
    return "will be created, with its folders (mode 0700) from " + from.value();
  }
  auto folder = open_folder(dir);
  if (!folder) return Error{folder.error()};
  return probe_file(folder.value().get(), name);
}

Check check_log(const LogSetting& setting) {
  const std::string name = "debug log";
  const std::string fix =
      "set OMBREL_HOOK_LOG to a file in a folder of your own (empty turns the log off)";
  if (setting.ignored) return failure(name, *setting.ignored, fix);
  if (setting.path.empty()) return pass(name, "off (OMBREL_HOOK_LOG is empty)");
  const std::string shown = utf8::lossy(setting.path);
  if (setting.path.front() != '/') {
    return failure(name, shown + " is relative: each agent's working folder would get its own",
                   "set HOME, or OMBREL_HOOK_LOG to an absolute path");
  }
  auto probed = probe_log(setting.path);
  if (!probed) return failure(name, shown + ": the hook would refuse it: " + probed.error(), fix);
  return pass(name, shown + ": " + probed.value());
}

}  // namespace ombrel::doctor
