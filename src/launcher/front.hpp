// The front door `ombrel`: the same program as ombrel-run, which hands `ombrel setup`,
// `ombrel doctor` and `ombrel help` over to the ombrel-setup beside it (that program edits
// JSON and TOML; this one stays libc-only). Those words count only as the first word after a
// program named "ombrel", so `ombrel run setup` and `ombrel-run setup` still run a tool named
// setup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ombrel::launcher {

// True when argv0's last path component is "ombrel" and word is setup, doctor or help.
bool is_front_command(const char* argv0, std::string_view word);

// Replaces this process with the ombrel-setup beside it, given the words unchanged (no
// shell). Returns only when that failed, after saying why; the result is the exit status.
int exec_front_command(const std::vector<std::string>& words, const char* argv0);

// What --help and --version (as the only word) print.
std::string help_text();
std::string version_text(const char* argv0);

}  // namespace ombrel::launcher
