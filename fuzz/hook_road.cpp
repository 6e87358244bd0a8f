// The whole road of one hook invocation, from stdin bytes to the body sent to the desktop
// and the agent's answer. The fuzz input is laid out as
//   byte 0: the --source option, byte 1: the --event option, byte 2: mode flags,
//   then the stdin bytes, then (after the first "\n@@desktop@@\n") the desktop's answer.
// The platform never touches the network: it checks the body it is given and answers from
// the input, as raw HTTP bytes through the hook's own response parser.
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "driver.hpp"
#include "fuzz_check.hpp"
#include "http.hpp"
#include "runtime.hpp"
#include "text.hpp"

namespace ombrel::fuzz {
namespace {

using hook::CancelTarget;
using ombrel::Result;
using ombrel::Status;

constexpr std::string_view kSeparator = "\n@@desktop@@\n";
constexpr std::string_view kServer = "http://127.0.0.1:7337";
constexpr std::string_view kErrorPrefix = "[ombrel-hook] Error: ";

// "" stands for no option at all.
constexpr std::string_view kSources[] = {
    "",      "cursor", "cline",    "claude",    "kimi",      "copilot", "gemini",      "codex",
    "qoder", "kiro",   "reasonix", "workbuddy", "codebuddy", "Cursor",  "claude-code", "unknown",
};
constexpr std::string_view kEvents[] = {
    "",
    "PreToolUse",
    "PostToolUse",
    "Stop",
    "PermissionRequest",
    "permissionRequest",
    "preToolUse",
    "BeforeTool",
    "AfterTool",
    "AfterModel",
    "UserPromptSubmit",
    "Notification",
    "tool_call",
    "beforeSubmitPrompt",
    "Elicitation",
    "SessionStart",
};

// Mode flags (byte 2).
constexpr unsigned kAnswerMask = 0x3;    // how the desktop answers, below
constexpr unsigned kAnswerHttp = 0;      // raw HTTP response bytes
constexpr unsigned kAnswerBody = 1;      // only the body, behind a plain 200 status line
constexpr unsigned kAnswerRefused = 2;   // the connection fails
constexpr unsigned kStdoutClosed = 0x4;  // every write to stdout fails
constexpr unsigned kLogToDevNull = 0x8;  // the debug log is on (/dev/null: built, refused)

const std::set<std::string> kReportMembers = {
    "cwd",
    "event",
    "hook_version",
    "last_assistant_message",
    "last_user_message",
    "om_tmux_session",
    "pid",
    "session_id",
    "source",
    "tool_input",
    "tool_name",
    "tool_use_id",
    "transcript_path",
    "turn_id",
};
const std::set<std::string> kPermissionMembers = {
    "cwd",        "hook_version", "pid",         "session_id",      "source",
    "tool_input", "tool_name",    "tool_use_id", "transcript_path",
};
// What the state path may print besides the "{}" of a failure.
const std::set<std::string> kDefaultAnswers = {
    R"({"cancel":false})",
    R"({"decision":"allow"})",
    R"({"continue":true})",
};

std::set<std::string> keys_of(const Json& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

bool is_string_or_null(const Json& value) {
  return value.is_string() || value.is_null();
}

class FuzzPlatform final : public hook::Platform {
 public:
  FuzzPlatform(std::string_view stdin_bytes, std::string_view answer, unsigned flags,
               std::string expected_source, bool may_become_cursor)
      : stdin_(stdin_bytes),
        answer_(answer),
        flags_(flags),
        expected_source_(std::move(expected_source)),
        may_become_cursor_(may_become_cursor) {}

  Result<std::string> read_stdin() override {
    // The real reader refuses what is not UTF-8, with this text.
    if (!utf8::is_valid(stdin_)) return ombrel::fail("stream did not contain valid UTF-8");
    return std::string(stdin_);
  }

  Status write_stdout(std::string_view text) override {
    if (flags_ & kStdoutClosed) return ombrel::fail("Broken pipe");
    ++stdout_writes_;
    stdout_.append(text);
    return Status::success();
  }

  void write_stderr(std::string_view text) override { stderr_.append(text); }

  Result<Json> post(const std::string& url, const Json& body,
                    std::chrono::milliseconds timeout) override {
    check(url == std::string(kServer) + "/state", "the report goes to /state", url);
    check(timeout == std::chrono::seconds(5), "the report waits at most 5 s");
    check_request(body, kReportMembers, "report");
    check_report(body);
    return answer();
  }

  Result<Json> post_interruptible(const std::string& url, const Json& body,
                                  std::chrono::milliseconds timeout,
                                  const CancelTarget& cancel) override {
    check(url == std::string(kServer) + "/permission", "the request goes to /permission", url);
    check(timeout == std::chrono::seconds(600), "the permission wait is 600 s");
    check_request(body, kPermissionMembers, "permission request");
    check_permission_request(body, cancel);
    return answer();
  }

  // What the agent sees once the run is over.
  void check_answer(const hook::RunOutcome& outcome) const {
    check(stdout_writes_ <= 1, "at most one document on stdout", stdout_);
    const bool failed = stderr_.rfind(kErrorPrefix, 0) == 0;
    if (!stdout_.empty()) {
      check(stdout_.back() != '\n', "no line break after the answer", stdout_);
      Json parsed = Json::parse(stdout_, nullptr, false);
      check(!parsed.is_discarded(), "the answer is JSON", stdout_);
      check(parsed.is_object(), "the answer is an object", stdout_);
      check(check_round_trip(parsed, "the answer is compact JSON") == stdout_,
            "the answer is compact JSON", stdout_);
    }
    if (outcome.exit_now) {
      check(outcome.status == 0 || outcome.status == 2, "exit status 0 or 2");
      check(posts_ == 1 || !stdout_.empty() || outcome.status == 2 || (flags_ & kStdoutClosed),
            "the permission path answers after asking, or prints, or denies");
    } else {
      check(outcome.status == 0, "a returning run has status 0");
    }
    if (outcome.status == 2) {
      check(stdout_.empty() && stderr_ == "Denied by Ombrel\n", "a denial on stderr is all",
            stderr_);
    } else if (!stderr_.empty()) {
      check(failed, "stderr holds only the error line", stderr_);
      check(stderr_.back() == '\n', "the error line ends in a line feed", stderr_);
      check(!outcome.exit_now, "an error does not end the process early");
      if (!(flags_ & kStdoutClosed)) check(stdout_ == "{}", "a failure answers {}", stdout_);
    }
    if (state_posted_ && !failed && !stdout_.empty()) {
      check(kDefaultAnswers.count(stdout_) == 1, "a report prints a default answer", stdout_);
    }
    check(posts_ <= 1, "one request per invocation");
    if (!utf8::is_valid(stdin_)) {
      check(posts_ == 0 &&
                stderr_ == std::string(kErrorPrefix) + "stream did not contain valid UTF-8\n",
            "input that is not UTF-8 is refused before anything is sent", stderr_);
    }
  }

 private:
  Result<Json> answer() {
    ++posts_;
    switch (flags_ & kAnswerMask) {
      case kAnswerRefused:
        return ombrel::fail("Connection refused");
      case kAnswerBody:
        return respond("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" +
                       std::string(answer_));
      case kAnswerHttp:
      default:
        return respond(answer_);
    }
  }

  // Only UTF-8 reaches the response parser, as in the real client.
  static Result<Json> respond(std::string_view bytes) {
    if (!utf8::is_valid(bytes)) return ombrel::fail("stream did not contain valid UTF-8");
    return hook::interpret_response(bytes);
  }

  void check_request(const Json& body, const std::set<std::string>& members,
                     std::string_view what) {
    const std::string text = check_round_trip(body, what);
    check(body.is_object() && keys_of(body) == members, "request members", text);
    check_utf8_strings(body, what);
    check(body["hook_version"] == hook::kHookVersion, "hook version", text);
    check(body["pid"] == static_cast<std::int64_t>(getppid()), "the parent's pid", text);
    check(body["source"] == expected_source_ || (may_become_cursor_ && body["source"] == "cursor"),
          "source name", text);
    reported_source_ = body["source"].get<std::string>();
    check(is_string_or_null(body["cwd"]), "cwd is text or null", text);
    if (body["cwd"].is_string()) {
      const auto& cwd = body["cwd"].get_ref<const std::string&>();
      // Trimmed before a "file://" is taken off, so only its end is sure to be trimmed.
      check(!cwd.empty() && utf8::trim_end(cwd).size() == cwd.size(),
            "cwd is not empty and ends trimmed", text);
    }
    check(is_string_or_null(body["transcript_path"]), "transcript path", text);
  }

  void check_report(const Json& body) {
    state_posted_ = true;
    const std::string text = hook::to_json_text(body);
    for (const char* name : {"last_assistant_message", "last_user_message", "om_tmux_session",
                             "session_id", "tool_name", "turn_id"}) {
      check(is_string_or_null(body[name]), "report text members", text);
    }
    check(body["event"].is_string(), "report event", text);
    check(body["om_tmux_session"] == "fuzz-tmux", "tmux session", text);
  }

  void check_permission_request(const Json& body, const CancelTarget& cancel) {
    const std::string text = hook::to_json_text(body);
    check(body["session_id"].is_string() && body["tool_name"].is_string(),
          "request session and tool are text", text);
    if (cancel.session) {
      check(body["session_id"] == *cancel.session, "cancel names the request's session", text);
    } else {
      check(body["session_id"] == "default", "no session: default", text);
    }
    check(cancel.server == kServer && cancel.source == reported_source_, "cancel target", text);
  }

  std::string_view stdin_;
  std::string_view answer_;
  unsigned flags_;
  std::string expected_source_;
  bool may_become_cursor_;
  std::string reported_source_;
  std::string stdout_;
  std::string stderr_;
  int stdout_writes_ = 0;
  int posts_ = 0;
  bool state_posted_ = false;
};

std::string home;

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

void remove_home() {
  if (!home.empty()) nftw(home.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_file(const std::string& path) {
  const std::string dir = path.substr(0, path.rfind('/'));
  for (std::size_t pos = 1; pos != std::string::npos;) {
    pos = dir.find('/', pos + 1);
    mkdir(dir.substr(0, pos).c_str(), 0700);
  }
  if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

// A home directory with a transcript for every agent whose transcript is searched for,
// under the session id "s1" (and the project "app" for Reasonix).
void make_home() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ombrel-fuzz-home-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) broken("cannot create the home directory", pattern);
  home = pattern;
  write_file(home + "/.kimi/sessions/proj/s1/wire.jsonl");
  write_file(home + "/.cline/data/sessions/s1/s1.messages.json");
  write_file(home + "/.reasonix/sessions/code-app.jsonl");
  write_file(home + "/.reasonix/sessions/a.jsonl");
  write_file(home + "/.reasonix/sessions/b.events.jsonl");
  std::atexit(remove_home);
  setenv("HOME", home.c_str(), 1);
  unsetenv("USERPROFILE");
  unsetenv("OMBREL_SERVER");
  setenv("OM_TMUX_SESSION", "fuzz-tmux", 1);
}

}  // namespace
}  // namespace ombrel::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ombrel::fuzz::make_home();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrel::fuzz;
  if (size < 3) return -1;
  const std::string_view source = kSources[data[0] % std::size(kSources)];
  const std::string_view event = kEvents[data[1] % std::size(kEvents)];
  const unsigned flags = data[2];
  std::string_view rest = as_text(data + 3, size - 3);
  std::string_view answer;
  if (std::size_t at = rest.find(kSeparator); at != std::string_view::npos) {
    answer = rest.substr(at + kSeparator.size());
    rest = rest.substr(0, at);
  }

  std::vector<std::string> args = {"ombrel-hook"};
  if (!source.empty()) args.insert(args.end(), {"--source", std::string(source)});
  if (!event.empty()) args.insert(args.end(), {"--event", std::string(event)});
  setenv("OMBREL_HOOK_LOG", (flags & kLogToDevNull) ? "/dev/null" : "", 1);

  // The source the desktop must see: the option, "unknown" without it, or "cursor" once the
  // payload carries "cursor_version", which it can only do if the text spells that name
  // (or hides it behind a \u escape).
  std::string expected = source.empty() ? "unknown" : std::string(source);
  const bool may_be_cursor = rest.find("cursor_version") != std::string_view::npos ||
                             rest.find("\\u") != std::string_view::npos;

  FuzzPlatform platform(rest, answer, flags, expected, may_be_cursor);
  const ombrel::hook::RunOutcome outcome = ombrel::hook::run(platform, args);
  platform.check_answer(outcome);
  return 0;
}
