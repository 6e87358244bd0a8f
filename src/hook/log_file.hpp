// Opening the debug log. The log holds prompts, commands and answers, and its default home
// may be /tmp (HOME unset), where anyone can plant a folder, a file or a link in its way:
// it is written only to a file of the user's own, in a folder nobody else controls, and
// opening it never blocks.
#pragma once

#include <string>

#include "common/fd.hpp"
#include "common/result.hpp"

namespace ombrel::hook {

// Opens path for appending, creating a missing file with mode 0600 and missing folders with
// 0700. Refuses (the error says why):
// - anything but a regular file with one link, owned by the user (a FIFO, a device, a file
//   another user planted, a hard link to one of the user's other files);
// - a folder that another user owns (root's folders are trusted), or that anyone may write
//   to without the sticky bit;
// - a symbolic link, for the file or its folder, that another user owns.
// A log the user owns that others may read is made private (0600).
Result<Fd> open_log_file(const std::string& path);

}  // namespace ombrel::hook
