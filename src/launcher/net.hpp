// Plain TCP for the launcher's HTTP client: every step is bounded in time, interrupted
// calls are resumed with the time that is left, and writes never raise SIGPIPE. Error
// texts are the system's own descriptions.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fd.hpp"
#include "common/result.hpp"

namespace ombrel::launcher {

using Millis = std::chrono::milliseconds;

// Resolves host and port with the system resolver and connects to the first address it
// returns, giving up after the timeout.
Result<Fd> connect_with_timeout(const std::string& host, std::uint16_t port, Millis timeout);
// Writes all bytes, failing when the whole write takes longer than the timeout.
Status send_all(int fd, std::string_view bytes, Millis timeout);
// Reads until the peer closes; fails when that takes longer than the timeout in total or
// more than max_bytes arrive.
Result<std::string> read_to_close(int fd, Millis timeout, std::size_t max_bytes);

}  // namespace ombrel::launcher
