// Reading and writing the agents' files the way users' settings deserve: a missing file is not
// an error, a write goes to a temporary file in the same folder that is flushed and renamed
// over the original (keeping its mode), and the original is copied once to FILE.ombrel-backup
// before setup first changes it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace ombrel::setup {

inline constexpr const char* kBackupSuffix = ".ombrel-backup";

struct FileText {
  std::string text;
  mode_t mode = 0;
};

// The file's content and mode; nothing when it does not exist. Links are followed.
Result<std::optional<FileText>> read_text_file(const std::string& path);

bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// Where a write to path really lands: path itself, or the file a symbolic link (at path, or
// in its folders) leads to, when that exists.
std::string resolved_target(const std::string& path);

// The names in a folder (no "." or ".."); empty when it cannot be read.
std::vector<std::string> folder_names(const std::string& path);

// Writes text to path atomically with the given mode, making missing folders (0700).
Status write_atomically(const std::string& path, const std::string& text, mode_t mode);

// Copies the original to path + kBackupSuffix unless a backup is already there.
Status keep_backup(const std::string& path, const FileText& original);

Status remove_file(const std::string& path);

}  // namespace ombrel::setup
