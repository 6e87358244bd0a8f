#include "platform.hpp"

#include "http.hpp"
#include "input.hpp"
#include "runtime.hpp"

namespace ombrel::hook {

Result<std::string> PosixPlatform::read_stdin() {
  return hook::read_stdin();
}

Status PosixPlatform::write_stdout(std::string_view text) {
  return write_stdout_text(text);
}

void PosixPlatform::write_stderr(std::string_view text) {
  hook::write_stderr(text);
}

Result<Json> PosixPlatform::post(const std::string& url, const Json& body,
                                 std::chrono::milliseconds timeout) {
  return post_json(url, body, timeout);
}

Result<Json> PosixPlatform::post_interruptible(const std::string& url, const Json& body,
                                               std::chrono::milliseconds timeout,
                                               const CancelTarget& cancel) {
  return post_json_interruptible(url, body, timeout, cancel.session, cancel.server, cancel.source,
                                 cancel.log_path);
}

Status print_json(Platform& platform, const Json& value) {
  return platform.write_stdout(compact_json(value));
}

}  // namespace ombrel::hook
