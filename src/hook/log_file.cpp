#include "log_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ombrel::hook {
namespace {

Error system_error(int err) {
  return fail(std::strerror(err));
}

// openat() that follows a symbolic link in the last place only when the link is the
// user's own. O_NOFOLLOW makes the first attempt refuse any link; what the error is then
// differs (ELOOP on Linux and macOS, EMLINK on FreeBSD, ENOTDIR with O_DIRECTORY on some),
// so the name itself is looked at.
Result<Fd> open_without_foreign_link(int dir, const char* name, int flags, mode_t mode) {
  Fd fd(openat(dir, name, flags | O_NOFOLLOW, mode));
  if (fd.valid()) return fd;
  const int err = errno;
  if (err != ELOOP && err != EMLINK && err != ENOTDIR) return system_error(err);
  struct stat link {};
  if (fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
    return system_error(err);
  if (link.st_uid != geteuid()) return fail("a symbolic link another user owns");
  fd = Fd(openat(dir, name, flags, mode));
  if (!fd.valid()) return system_error(errno);
  return fd;
}

void make_directories(const std::string& dir) {
  for (std::size_t pos = 0; pos != std::string::npos;) {
    const std::size_t next = dir.find('/', pos + 1);
    const std::string partial = dir.substr(0, next);
    if (!partial.empty() && partial != "/") mkdir(partial.c_str(), 0700);
    pos = next;
  }
}

// The folder of the log, checked on the descriptor that the file is then opened in, so
// that nothing can be swapped in between.
Result<Fd> open_folder(const std::string& dir) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
  auto folder = open_without_foreign_link(AT_FDCWD, dir.c_str(), flags, 0);
  struct stat st {};
  if (!folder && lstat(dir.c_str(), &st) != 0 && errno == ENOENT) {
    make_directories(dir);
    folder = open_without_foreign_link(AT_FDCWD, dir.c_str(), flags, 0);
  }
  if (!folder) return folder;
  if (fstat(folder.value().get(), &st) != 0) return system_error(errno);
  if (st.st_uid != geteuid() && st.st_uid != 0) return fail("a folder another user owns");
  if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0)
    return fail("a folder anyone may change");
  return folder;
}

}  // namespace

Result<Fd> open_log_file(const std::string& path) {
  if (path.empty()) return fail("no log file named");
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  auto folder = open_folder(dir);
  if (!folder) return Error{folder.error()};
  // O_NONBLOCK: a FIFO in the log's place must not hold the hook (a signal would not end
  // the wait); O_NOCTTY: a terminal there must not become the hook's.
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  auto log = open_without_foreign_link(folder.value().get(), name.c_str(), flags, 0600);
  if (!log) return log;
  struct stat st {};
  if (fstat(log.value().get(), &st) != 0) return system_error(errno);
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (st.st_uid != geteuid()) return fail("a file another user owns");
  // A second name for the file may be one another user made for it in a folder they can
  // write to, to have the log appended to the user's own shell profile, say.
  if (st.st_nlink != 1) return fail("a file with more than one link");
  if ((st.st_mode & 077) != 0) (void)fchmod(log.value().get(), st.st_mode & 0700);
  return log;
}

}  // namespace ombrel::hook
