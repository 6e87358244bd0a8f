#include "log_file.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "temp_dir.hpp"

namespace ombrel::hook {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;

// What a case leaves behind: the log path to open, and where the line must then be.
struct Layout {
  std::string log;
  std::string lands_in;       // empty: the log is refused
  std::string made_folder{};  // a folder the opening must have made
};

struct Case {
  const char* name;
  std::function<Layout(const fs::path&)> make;
  std::string want_error;  // empty: opened
};

void touch(const fs::path& path) {
  std::ofstream{path};
}

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void walk(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Layout layout = c.make(dir.path());
    auto log = open_log_file(layout.log);
    if (!c.want_error.empty()) {
      ASSERT_FALSE(log.ok());
      EXPECT_EQ(log.error(), c.want_error);
      continue;
    }
    ASSERT_TRUE(log.ok()) << log.error();
    ASSERT_EQ(write(log.value().get(), "entry\n", 6), 6);
    EXPECT_EQ(read_file(layout.lands_in), "entry\n");
    EXPECT_EQ(mode_of(layout.lands_in), 0600u);  // made so, or created so
    if (!layout.made_folder.empty()) {
      EXPECT_EQ(mode_of(layout.made_folder), 0700u);
    }
  }
}

TEST(LogFile, OwnFilesOpenOddOnesAreRefused) {
  walk({
      {"missing folders are made, private",
       [](const fs::path& d) {
         const fs::path log = d / "a/b/hook.log";
         return Layout{log, log, d / "a/b"};
       },
       ""},
      {"a log others could read is made private",
       [](const fs::path& d) {
         const fs::path log = d / "hook.log";
         touch(log);
         fs::permissions(log, fs::perms(0644));
         return Layout{log, log};
       },
       ""},
      {"one's own link to one's own file",
       [](const fs::path& d) {
         touch(d / "real.log");
         fs::create_symlink(d / "real.log", d / "hook.log");
         return Layout{d / "hook.log", d / "real.log"};
       },
       ""},
      {"one's own link to a folder of one's own",
       [](const fs::path& d) {
         fs::create_directory(d / "real");
         fs::create_directory_symlink(d / "real", d / ".ombrel");
         return Layout{d / ".ombrel/hook.log", d / "real/hook.log"};
       },
       ""},
      {"a sticky folder anyone may write to, as /tmp",
       [](const fs::path& d) {
         fs::permissions(d, fs::perms(01777));
         return Layout{d / "hook.log", d / "hook.log"};
       },
       ""},
      {"a device",
       [](const fs::path&) {
         return Layout{"/dev/null", ""};
       },
       "not a regular file"},
      {"a second name for one of one's files",
       [](const fs::path& d) {
         touch(d / "profile");
         fs::create_hard_link(d / "profile", d / "hook.log");
         return Layout{d / "hook.log", ""};
       },
       "a file with more than one link"},
      {"a folder anyone may change",
       [](const fs::path& d) {
         fs::permissions(d, fs::perms(0777));
         return Layout{d / "hook.log", ""};
       },
       "a folder anyone may change"},
  });
}

// Another account plants the log, its folder or a link in the way (as anyone can under
// /tmp, where the log goes when HOME is unset); root, the one account that can make files
// for others here, is the one that must refuse them.
TEST(LogFile, WhatAnotherUserPlantedIsRefused) {
  const passwd* other = getpwnam("nobody");
  if (geteuid() != 0 || other == nullptr) GTEST_SKIP() << "needs root and the account nobody";
  const uid_t them = other->pw_uid;
  auto theirs = [them](const fs::path& p) { ASSERT_EQ(lchown(p.c_str(), them, them), 0); };
  walk({
      {"a log file",
       [&](const fs::path& d) {
         touch(d / "hook.log");
         fs::permissions(d / "hook.log", fs::perms(0666));
         theirs(d / "hook.log");
         return Layout{d / "hook.log", ""};
       },
       "a file another user owns"},
      {"the log's folder",
       [&](const fs::path& d) {
         fs::permissions(d, fs::perms(01777));
         fs::create_directory(d / ".ombrel");
         fs::permissions(d / ".ombrel", fs::perms(0777));
         theirs(d / ".ombrel");
         return Layout{d / ".ombrel/hook.log", ""};
       },
       "a folder another user owns"},
      {"a link to one of root's files",
       [&](const fs::path& d) {
         touch(d / "profile");
         fs::create_symlink(d / "profile", d / "hook.log");
         theirs(d / "hook.log");
         return Layout{d / "hook.log", ""};
       },
       "a symbolic link another user owns"},
      {"a link in the folder's place",
       [&](const fs::path& d) {
         fs::create_directory(d / "root-only");
         fs::create_directory_symlink(d / "root-only", d / ".ombrel");
         theirs(d / ".ombrel");
         return Layout{d / ".ombrel/hook.log", ""};
       },
       "a symbolic link another user owns"},
  });
}

}  // namespace
}  // namespace ombrel::hook
