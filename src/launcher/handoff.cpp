#include "handoff.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/self_exe.hpp"
#include "launch.hpp"
#include "text.hpp"

extern char** environ;

namespace ombrel::launcher {
namespace {

constexpr const char* kEnvFile = "env";
constexpr const char* kErrorFile = "error";
constexpr std::string_view kMagic = "ombrel-handoff-1";
// Far above what exec accepts anyway; a bigger file is not ours.
constexpr std::size_t kMaxHandoffBytes = 64u << 20;
constexpr int kExecFailed = 127;

std::string failure(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

std::string_view name_of(std::string_view entry) {
  return entry.substr(0, entry.find('='));
}

// Made by this user and closed to everyone else; anything else may have been planted.
bool private_to_us(const struct stat& st) {
  return st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

Result<Fd> open_private_dir(const std::string& path) {
  Fd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) return fail(failure(path, errno));
  if (!S_ISDIR(st.st_mode) || !private_to_us(st)) {
    return fail(path + ": not a private directory of this user");
  }
  return Result<Fd>(std::move(fd));
}

// O_NONBLOCK: a FIFO in its place must not hang us; it is refused as not a regular file.
Result<Fd> open_private_file(int dir, const char* name, int flags) {
  Fd fd(openat(dir, name, flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) return fail(failure(name, errno));
  if (!S_ISREG(st.st_mode) || !private_to_us(st) || st.st_nlink != 1) {
    return fail(std::string(name) + ": not a private file of this user");
  }
  return Result<Fd>(std::move(fd));
}

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t w = ::write(fd, bytes.data(), bytes.size());
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return fail(std::strerror(errno));
    bytes.remove_prefix(static_cast<std::size_t>(w));
  }
  return {};
}

Result<std::string> read_all(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return fail(std::strerror(errno));
    if (r == 0) return out;
    out.append(buf, static_cast<std::size_t>(r));
    if (out.size() > kMaxHandoffBytes) return fail("handoff file too large");
  }
}

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  return entries;
}

std::vector<char*> c_strings(std::vector<std::string>& items) {
  std::vector<char*> out;
  for (auto& s : items) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Opens "error" for the report first, so that even a broken "env" is reported; then reads
// "env" and removes both and the directory, whatever the reading gave.
Result<Handoff> take_handoff(const std::string& path, Fd& report) {
  auto dir = open_private_dir(path);
  if (!dir) return fail(dir.error());
  const int d = dir.value().get();
  auto error = open_private_file(d, kErrorFile, O_WRONLY);
  if (!error) return fail(error.error());
  report = std::move(error.value());
  auto env = open_private_file(d, kEnvFile, O_RDONLY);
  if (!env) return fail(env.error());
  auto bytes = read_all(env.value().get());
  unlinkat(d, kEnvFile, 0);
  unlinkat(d, kErrorFile, 0);
  rmdir(path.c_str());
  if (!bytes) return fail(bytes.error());
  return decode_handoff(bytes.value());
}

Result<std::string> real_path(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) == nullptr) return fail(failure(path, errno));
  return std::string(buf);
}

}  // namespace

std::string encode_handoff(const Handoff& handoff) {
  std::string out;
  auto field = [&](std::string_view text) { out.append(text).push_back('\0'); };
  field(kMagic);
  field(std::to_string(handoff.argv.size()));
  for (const auto& word : handoff.argv) field(word);
  for (const auto& entry : handoff.env) field(entry);
  return out;
}

Result<Handoff> decode_handoff(std::string_view bytes) {
  std::vector<std::string> fields;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\0');
    if (end == std::string_view::npos) return fail("malformed handoff file");
    fields.emplace_back(bytes.substr(0, end));
    bytes.remove_prefix(end + 1);
  }
  const std::uint32_t argc =
      fields.size() >= 2 && fields[0] == kMagic ? parse_u32(fields[1]).value_or(0) : 0;
  if (argc == 0 || argc > fields.size() - 2) return fail("malformed handoff file");
  Handoff handoff;
  handoff.argv.assign(fields.begin() + 2, fields.begin() + 2 + argc);
  handoff.env.assign(fields.begin() + 2 + argc, fields.end());
  for (const auto& entry : handoff.env) {
    if (entry.find('=') == std::string::npos) return fail("malformed handoff file");
  }
  return handoff;
}

std::vector<std::string> tool_environment(const std::vector<std::string>& pane,
                                          const std::vector<std::string>& handed) {
  auto in_pane = [&](std::string_view name) -> const std::string* {
    for (const auto& entry : pane) {
      if (entry.find('=') != std::string::npos && name_of(entry) == name) return &entry;
    }
    return nullptr;
  };
  const std::string* program = in_pane("TERM_PROGRAM");
  const bool tmux_named_itself = program != nullptr && *program == "TERM_PROGRAM=tmux";
  auto set_by_tmux = [&](std::string_view name) {
    const bool always = name == "TMUX" || name == "TMUX_PANE" || name == "TERM";
    const bool named = name == "TERM_PROGRAM" || name == "TERM_PROGRAM_VERSION";
    return (always || (named && tmux_named_itself)) && in_pane(name) != nullptr;
  };
  std::vector<std::string> out;
  for (const auto& entry : handed) {
    if (!set_by_tmux(name_of(entry))) out.push_back(entry);
  }
  for (const auto& entry : pane) {
    if (entry.find('=') == std::string::npos) continue;
    const std::string_view name = name_of(entry);
    bool handed_too = false;
    for (const auto& h : handed) handed_too = handed_too || name_of(h) == name;
    if (!handed_too || set_by_tmux(name)) out.push_back(entry);
  }
  return out;
}

Result<HandoffDir> HandoffDir::create(const std::string& parent) {
  const std::string pattern = parent + (parent.ends_with('/') ? "" : "/") + "ombrel-XXXXXX";
  std::string path = pattern;
  if (mkdtemp(path.data()) == nullptr) return fail(failure(pattern, errno));
  auto dir = open_private_dir(path);  // fails only if someone swapped it in between
  if (!dir) return fail(dir.error());
  Fd error(openat(dir.value().get(), kErrorFile, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0600));
  if (!error.valid()) {
    const int err = errno;
    rmdir(path.c_str());
    return fail(failure(path + "/" + kErrorFile, err));
  }
  return HandoffDir(std::move(path), std::move(dir.value()), std::move(error));
}

HandoffDir::~HandoffDir() {
  if (released_ || !dir_.valid()) return;
  unlinkat(dir_.get(), kEnvFile, 0);
  unlinkat(dir_.get(), kErrorFile, 0);
  rmdir(path_.c_str());
}

Status HandoffDir::write(std::string_view bytes) const {
  Fd fd(openat(dir_.get(), kEnvFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return fail(failure(path_ + "/" + kEnvFile, errno));
  if (auto written = write_all(fd.get(), bytes); !written) {
    return fail(path_ + "/" + kEnvFile + ": " + written.error());
  }
  if (close(fd.release()) != 0) return fail(failure(path_ + "/" + kEnvFile, errno));
  return {};
}

std::optional<std::string> HandoffDir::exec_error() const {
  char buf[4096];
  const ssize_t r = pread(error_.get(), buf, sizeof buf, 0);
  if (r <= 0) return std::nullopt;
  return std::string(buf, static_cast<std::size_t>(r));
}

std::string handoff_parent() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

Result<std::string> own_executable(const char* argv0) {
  if (auto path = system_executable_path(); path && is_executable_file(*path)) {
    return real_path(*path);
  }
  // Elsewhere (or without /proc): argv[0] as the shell found it.
  const std::string word = argv0 != nullptr ? argv0 : "";
  std::optional<std::string> path;
  if (word.find('/') != std::string::npos) {
    path = word;
  } else if (const char* list = std::getenv("PATH"); list != nullptr && !word.empty()) {
    path = find_on_path(word, list);
  }
  if (!path) return fail("cannot find this program (" + word + ")");
  return real_path(*path);
}

int run_exec_step(const std::string& dir) {
  Fd report;
  auto handoff = take_handoff(dir, report);
  std::string why = handoff ? "" : handoff.error(), tool = "工具";
  if (handoff) {
    std::vector<std::string> env = tool_environment(environment_entries(), handoff.value().env);
    std::vector<char*> envp = c_strings(env), argv = c_strings(handoff.value().argv);
    // execvp searches the tool's own PATH, as tmux did when it ran the tool itself.
    char** own = environ;
    environ = envp.data();
    execvp(argv[0], argv.data());
    why = std::strerror(errno);
    environ = own;
    tool = handoff.value().argv[0];
  }
  if (report.valid()) (void)write_all(report.get(), why);
  const std::string line = "[ombrel] 启动 " + tool + " 失败: " + why + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kExecFailed;
}

}  // namespace ombrel::launcher
