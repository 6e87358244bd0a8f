#include "files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/fd.hpp"

namespace ombrel::setup {
namespace {

std::string why(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Status make_folders(const std::string& dir) {
  if (dir.empty() || is_directory(dir)) return {};
  if (auto up = make_folders(parent_of(dir)); !up) return up;
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return fail(why(dir, errno));
  return {};
}

Status write_all(int fd, const std::string& text, const std::string& path) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(why(path, errno));
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

Result<std::optional<FileText>> read_text_file(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) return std::optional<FileText>();
    return fail(why(path, errno));
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return fail(why(path, errno));
  if (!S_ISREG(st.st_mode)) return fail(path + ": not a regular file");
  FileText file;
  file.mode = st.st_mode & 07777;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(why(path, errno));
    if (n == 0) break;
    file.text.append(buf, static_cast<std::size_t>(n));
  }
  return std::optional<FileText>(std::move(file));
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string resolved_target(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) != nullptr) return buf;
  // A file still to be made: its folder may be a link.
  const std::string dir = parent_of(path);
  if (dir != path && realpath(dir.c_str(), buf) != nullptr) {
    return std::string(buf) + path.substr(dir.size());
  }
  return path;
}

std::vector<std::string> folder_names(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

Status write_atomically(const std::string& path, const std::string& text, mode_t mode) {
  const std::string dir = parent_of(path);
  if (auto made = make_folders(dir); !made) return made;
  std::string temp = path + ".ombrel-XXXXXX";
  Fd fd(mkstemp(temp.data()));
  if (!fd.valid()) return fail(why(temp, errno));
  auto abandon = [&](Status status) {
    unlink(temp.c_str());
    return status;
  };
  if (fchmod(fd.get(), mode) != 0) return abandon(fail(why(temp, errno)));
  if (auto wrote = write_all(fd.get(), text, temp); !wrote) return abandon(wrote);
  if (fsync(fd.get()) != 0) return abandon(fail(why(temp, errno)));
  fd = Fd();
  if (rename(temp.c_str(), path.c_str()) != 0) return abandon(fail(why(path, errno)));
  return {};
}

Status keep_backup(const std::string& path, const FileText& original) {
  const std::string backup = path + kBackupSuffix;
  if (path_exists(backup)) return {};
  return write_atomically(backup, original.text, original.mode);
}

Status remove_file(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return fail(why(path, errno));
  return {};
}

}  // namespace ombrel::setup
