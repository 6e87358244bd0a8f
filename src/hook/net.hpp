// Blocking TCP bounded by a deadline: connect, writes and reads all end by it, so a peer
// that trickles bytes cannot stretch an exchange past its limit. Interrupted system calls
// are resumed with the time that is left; writes never raise SIGPIPE.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fd.hpp"
#include "common/result.hpp"

namespace ombrel::hook {

using Deadline = std::chrono::steady_clock::time_point;

// Resolves host and port (numeric addresses without the resolver) and connects to the
// first address found.
Result<Fd> connect_tcp(const std::string& host, std::uint16_t port, Deadline deadline);
// Sends all bytes of both parts.
Status send_all(int fd, std::string_view head, std::string_view body, Deadline deadline);
// Reads until the peer closes; fails when more than max_bytes arrive.
Result<std::string> read_to_end(int fd, Deadline deadline, std::size_t max_bytes);

}  // namespace ombrel::hook
