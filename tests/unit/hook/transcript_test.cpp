#include "transcript.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "temp_dir.hpp"

namespace ombrel::hook {
namespace {

namespace fs = std::filesystem;

// Sets or unsets environment variables for one scope and puts the old values back.
class ScopedEnv {
 public:
  ScopedEnv& set(const char* name, std::optional<std::string> value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
    return *this;
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first, it->second->c_str(), 1);
      } else {
        unsetenv(it->first);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// A file (or directory, when the path ends in "/") under the home directory, with a
// modification time in seconds since the epoch (0: leave it as created).
struct Entry {
  std::string path;
  long mtime = 0;
};

void create(const test::TempDir& home, const Entry& entry) {
  fs::path full = home.path() / entry.path;
  if (entry.path.back() == '/') {
    fs::create_directories(full);
  } else {
    home.write(entry.path, "{}\n");
  }
  if (entry.mtime != 0) {
    const timespec times[2] = {{entry.mtime, 0}, {entry.mtime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, full.c_str(), times, 0), 0) << entry.path;
  }
}

// The names in a directory in the order the system lists them.
std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = d ? readdir(d) : nullptr) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (d) closedir(d);
  return names;
}

// The log entries' messages, without their timestamps.
std::vector<std::string> log_messages(const std::string& path) {
  std::vector<std::string> lines;
  std::string content = test::read_file(path);
  for (std::size_t pos = 0; pos < content.size();) {
    std::size_t end = content.find('\n', pos);
    std::string line = content.substr(pos, end - pos);
    lines.push_back(line.substr(line.find(' ') + 1));
    pos = end + 1;
  }
  return lines;
}

TEST(Transcript, PayloadPathThenPerAgentFiles) {
  struct Case {
    const char* name;
    const char* source;
    const char* payload;
    std::vector<Entry> files;
    std::optional<std::string> want;  // "~" stands for the home directory
  };
  const Case cases[] = {
      {"empty payload path wins even for kiro",
       "kiro",
       R"({"transcript_path":"","session_id":"a"})",
       {},
       ""},
      {"number as payload path", "claude", R"({"transcript_path":42})", {}, "42"},
      {"null falls through to transcriptPath",
       "claude",
       R"({"transcript_path":null,"transcriptPath":"/t.json"})",
       {},
       "/t.json"},
      {"object falls through to the agent rule",
       "kiro",
       R"({"transcript_path":{},"session_id":"abc"})",
       {},
       "~/.kiro/sessions/cli/abc.jsonl"},
      {"kiro path built without checking",
       "kiro",
       R"({"session_id":"abc"})",
       {},
       "~/.kiro/sessions/cli/abc.jsonl"},
      {"kiro numeric session id",
       "kiro",
       R"({"session_id":7})",
       {},
       "~/.kiro/sessions/cli/7.jsonl"},
      {"kiro without session id", "kiro", R"({"sessionId":"abc"})", {}, std::nullopt},
      {"source compared case-sensitively", "Kiro", R"({"session_id":"abc"})", {}, std::nullopt},
      {"other agents have no files", "claude", R"({"session_id":"abc"})", {}, std::nullopt},
      {"kimi finds wire.jsonl in some session directory",
       "kimi",
       R"({"session_id":"s1"})",
       {{".kimi/sessions/x/"},
        {".kimi/sessions/y/s1/wire.jsonl"},
        {".kimi/sessions/z/s2/wire.jsonl"}},
       "~/.kimi/sessions/y/s1/wire.jsonl"},
      {"kimi accepts a directory named wire.jsonl",
       "kimi",
       R"({"session_id":"s1"})",
       {{".kimi/sessions/y/s1/wire.jsonl/"}},
       "~/.kimi/sessions/y/s1/wire.jsonl"},
      {"kimi without a match",
       "kimi",
       R"({"session_id":"s9"})",
       {{".kimi/sessions/y/s1/wire.jsonl"}},
       std::nullopt},
      {"kimi without sessions directory", "kimi", R"({"session_id":"s1"})", {}, std::nullopt},
      {"kimi without session id",
       "kimi",
       R"({})",
       {{".kimi/sessions/y/s1/wire.jsonl"}},
       std::nullopt},
      {"cline session context first",
       "cline",
       R"({"sessionContext":{"rootSessionId":"r1"},"rootSessionId":"r2"})",
       {{".cline/data/sessions/r1/r1.messages.json"}, {".cline/data/sessions/r2/r2.messages.json"}},
       "~/.cline/data/sessions/r1/r1.messages.json"},
      {"cline top-level id when the context has none",
       "cline",
       R"({"sessionContext":{"rootSessionId":null},"rootSessionId":"r2"})",
       {{".cline/data/sessions/r2/r2.messages.json"}},
       "~/.cline/data/sessions/r2/r2.messages.json"},
      {"cline file must exist",
       "cline",
       R"({"rootSessionId":"r1"})",
       {{".cline/data/sessions/r1/"}},
       std::nullopt},
      {"cline file must be in the directory of the same id",
       "cline",
       R"({"rootSessionId":"r1"})",
       {{".cline/data/sessions/r2/r1.messages.json"}},
       std::nullopt},
      {"reasonix project file wins over newer files",
       "reasonix",
       R"({"cwd":"/home/me/app"})",
       {{".reasonix/sessions/code-app.jsonl", 1000}, {".reasonix/sessions/b.jsonl", 3000}},
       "~/.reasonix/sessions/code-app.jsonl"},
      {"reasonix project name ignores a trailing slash",
       "reasonix",
       R"({"cwd":"/home/me/app/"})",
       {{".reasonix/sessions/code-app.jsonl", 1000}, {".reasonix/sessions/b.jsonl", 3000}},
       "~/.reasonix/sessions/code-app.jsonl"},
      {"reasonix newest session otherwise",
       "reasonix",
       R"({"cwd":"/home/me/other"})",
       {{".reasonix/sessions/code-app.jsonl", 1000},
        {".reasonix/sessions/a.jsonl", 2000},
        {".reasonix/sessions/b.jsonl", 3000},
        {".reasonix/sessions/b.events.jsonl", 4000},
        {".reasonix/sessions/c.json", 5000},
        {".reasonix/sessions/notes.txt", 6000}},
       "~/.reasonix/sessions/b.jsonl"},
      {"reasonix root directory has no project name",
       "reasonix",
       R"({"cwd":"/"})",
       {{".reasonix/sessions/a.jsonl", 2000}, {".reasonix/sessions/b.jsonl", 1000}},
       "~/.reasonix/sessions/a.jsonl"},
      {"reasonix with only event logs",
       "reasonix",
       R"({"cwd":"/x/app"})",
       {{".reasonix/sessions/a.events.jsonl"}},
       std::nullopt},
      {"reasonix name that is only the suffix",
       "reasonix",
       R"({"cwd":"/x/app"})",
       {{".reasonix/sessions/.jsonl", 2000}},
       "~/.reasonix/sessions/.jsonl"},
      {"reasonix without sessions directory", "reasonix", R"({"cwd":"/x/app"})", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    test::TempDir home;
    ScopedEnv env;
    env.set("HOME", home.str());
    for (const Entry& e : c.files) create(home, e);
    std::optional<std::string> want = c.want;
    if (want && want->rfind("~", 0) == 0) *want = home.str() + want->substr(1);
    EXPECT_EQ(resolve_transcript_path(c.source, Json::parse(c.payload)), want) << c.name;
  }
}

TEST(Transcript, ListingOrderDecidesAmongEquals) {
  struct Case {
    const char* name;
    const char* source;
    const char* payload;
    const char* dir;  // listed directory under the home
    std::vector<Entry> files;
    const char* tail;  // appended to the first listed name that qualifies
  };
  const Case cases[] = {
      {"kimi takes the first listed session",
       "kimi",
       R"({"session_id":"s1"})",
       ".kimi/sessions",
       {{".kimi/sessions/p/s1/wire.jsonl"},
        {".kimi/sessions/q/s1/wire.jsonl"},
        {".kimi/sessions/r/s1/wire.jsonl"},
        {".kimi/sessions/s/s1/wire.jsonl"}},
       "/s1/wire.jsonl"},
      {"reasonix keeps listing order for equal times",
       "reasonix",
       R"({"cwd":"/x/none"})",
       ".reasonix/sessions",
       {{".reasonix/sessions/p.jsonl", 5000},
        {".reasonix/sessions/q.jsonl", 5000},
        {".reasonix/sessions/r.jsonl", 5000},
        {".reasonix/sessions/s.jsonl", 5000}},
       ""},
  };
  for (const auto& c : cases) {
    test::TempDir home;
    ScopedEnv env;
    env.set("HOME", home.str());
    for (const Entry& e : c.files) create(home, e);
    const std::vector<std::string> names = listing(home.path() / c.dir);
    ASSERT_FALSE(names.empty()) << c.name;
    const std::string want = (home.path() / c.dir / names.front()).string() + c.tail;
    EXPECT_EQ(resolve_transcript_path(c.source, Json::parse(c.payload)), want) << c.name;
  }
}

TEST(Transcript, UnreadableTimesCountAsTheEpoch) {
  struct Case {
    const char* name;
    bool with_real_file;
    std::string want;  // file name under the sessions directory
  };
  const Case cases[] = {
      {"a real old file beats a dangling link", true, "old.jsonl"},
      {"a dangling link alone is still found", false, "dangling.jsonl"},
  };
  for (const auto& c : cases) {
    test::TempDir home;
    ScopedEnv env;
    env.set("HOME", home.str());
    const fs::path sessions = home.path() / ".reasonix/sessions";
    fs::create_directories(sessions);
    fs::create_symlink(sessions / "missing", sessions / "dangling.jsonl");
    if (c.with_real_file) create(home, {".reasonix/sessions/old.jsonl", 1});
    EXPECT_EQ(resolve_transcript_path("reasonix", Json::parse(R"({"cwd":"/x/none"})")),
              (sessions / c.want).string())
        << c.name;
  }
}

TEST(Transcript, ReasonixProjectFromTheProcessDirectory) {
  struct Case {
    const char* name;
    const char* payload;  // without a string "cwd" the process's directory names the project
  };
  const Case cases[] = {{"no cwd member", "{}"}, {"cwd not a string", R"({"cwd":["/x/other"]})"}};
  for (const auto& c : cases) {
    test::TempDir home;
    test::TempDir project;
    ScopedEnv env;
    env.set("HOME", home.str());
    const std::string file =
        ".reasonix/sessions/code-" + project.path().filename().string() + ".jsonl";
    create(home, {file, 1000});
    create(home, {".reasonix/sessions/newer.jsonl", 2000});
    const fs::path before = fs::current_path();
    fs::current_path(project.path());
    auto got = resolve_transcript_path("reasonix", Json::parse(c.payload));
    fs::current_path(before);
    EXPECT_EQ(got, (home.path() / file).string()) << c.name;
  }
}

TEST(Transcript, HomeDirectoryRule) {
  struct Case {
    const char* name;
    std::optional<std::string> home;
    std::optional<std::string> profile;
    std::string want;
  };
  const Case cases[] = {
      {"HOME first", "/h", "/p", "/h/.kiro/sessions/cli/x.jsonl"},
      {"USERPROFILE without HOME", std::nullopt, "/p", "/p/.kiro/sessions/cli/x.jsonl"},
      {"neither: /tmp", std::nullopt, std::nullopt, "/tmp/.kiro/sessions/cli/x.jsonl"},
      {"empty HOME is kept", "", "/p", ".kiro/sessions/cli/x.jsonl"},
      {"invalid UTF-8 replaced", "/h\xFF", std::nullopt,
       "/h\xEF\xBF\xBD/.kiro/sessions/cli/x.jsonl"},
  };
  for (const auto& c : cases) {
    ScopedEnv env;
    env.set("HOME", c.home).set("USERPROFILE", c.profile);
    EXPECT_EQ(resolve_transcript_path("kiro", Json::parse(R"({"session_id":"x"})")), c.want)
        << c.name;
  }
}

TEST(Transcript, LastUserMessageAndItsLogLine) {
  struct Case {
    const char* name;
    const char* payload;
    const char* event;
    std::optional<std::string> want;
    std::string line;
  };
  const std::string long_text(200, 'x');
  const std::string long_payload = R"({"prompt":")" + long_text + R"("})";
  const std::string long_line =
      "[src] last_user_message source=direct key=prompt event=Stop preview=\"" +
      std::string(180, 'x') + "\u2026\"";
  const Case cases[] = {
      {"direct key untrimmed", R"({"prompt":"  hi  "})", "Stop", "  hi  ",
       R"([src] last_user_message source=direct key=prompt event=Stop preview="hi")"},
      {"direct empty string counts", R"({"last_user_message":"","prompt":"p"})", "Stop", "",
       R"([src] last_user_message source=direct key=last_user_message event=Stop preview="")"},
      {"null skipped, number as text", R"({"last_user_message":null,"query":7})", "Stop", "7",
       R"([src] last_user_message source=direct key=query event=Stop preview="7")"},
      {"direct key order", R"({"input":"i","userPrompt":"u","user_prompt":"up"})", "Stop", "up",
       R"([src] last_user_message source=direct key=user_prompt event=Stop preview="up")"},
      {"nested trimmed", R"({"prompt":{"text":"  hi  "}})", "Stop", "hi",
       R"([src] last_user_message source=nested key=/prompt/text event=Stop preview="hi")"},
      {"nested blank goes on", R"({"prompt":{"text":"  ","content":[{"text":"a"},"b"]}})", "Stop",
       "a\nb",
       R"([src] last_user_message source=nested key=/prompt/content event=Stop preview="a b")"},
      {"nested turn prompt last", R"({"turn":{"prompt":"p","userInput":"u"}})", "Stop", "u",
       R"([src] last_user_message source=nested key=/turn/userInput event=Stop preview="u")"},
      {"event keys for a prompt", R"({"message":"x"})", "UserPromptSubmit", "x",
       R"([src] last_user_message source=event key=message event=UserPromptSubmit preview="x")"},
      {"event keys untrimmed and in order", R"({"text":" t ","userMessage":false})",
       "UserPromptSubmit", "false",
       R"([src] last_user_message source=event key=userMessage event=UserPromptSubmit preview="false")"},
      {"event keys only for a prompt", R"({"message":"x"})", "Stop", std::nullopt,
       "[src] last_user_message source=missing event=Stop keys=message"},
      {"last user of the messages",
       R"({"messages":[{"role":"user","content":"a"},{"role":"assistant","content":"b"},)"
       R"({"role":"USER","content":[{"text":"c"},"d",{"type":"image"}]}]})",
       "Stop", "c\nd", R"([src] last_user_message source=messages event=Stop preview="c d")"},
      {"type when there is no role",
       R"({"messages":[{"type":"user","text":" a "},{"role":null,"type":"user","content":"b"}]})",
       "Stop", "a", R"([src] last_user_message source=messages event=Stop preview="a")"},
      {"unusable content skipped",
       R"({"messages":[{"role":"user","content":"a"},{"role":"user","content":5},)"
       R"({"role":"user","content":null,"text":"t"}]})",
       "Stop", "a", R"([src] last_user_message source=messages event=Stop preview="a")"},
      {"turn messages before messages",
       R"({"turn":{"messages":[{"role":"user","message":"t"}]},"messages":[{"role":"user","content":"m"}]})",
       "Stop", "t", R"([src] last_user_message source=messages event=Stop preview="t")"},
      {"turn messages not a list hides messages",
       R"({"turn":{"messages":{}},"messages":[{"role":"user","content":"m"}]})", "Stop",
       std::nullopt, "[src] last_user_message source=missing event=Stop keys=messages, turn"},
      {"nothing found lists sorted keys", R"({"b":1,"a":[],"C":{}})", "Stop", std::nullopt,
       "[src] last_user_message source=missing event=Stop keys=C, a, b"},
      {"not an object", R"([1])", "Stop", std::nullopt,
       "[src] last_user_message source=missing event=Stop keys="},
      {"long text previewed", long_payload.c_str(), "Stop", long_text, long_line},
      {"preview on one line", "{\"prompt\":\"a\\n\\n  b\"}", "Stop", "a\n\n  b",
       R"([src] last_user_message source=direct key=prompt event=Stop preview="a b")"},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string log = (dir.path() / "hook.log").string();
    EXPECT_EQ(last_user_message_from_payload("src", c.event, Json::parse(c.payload), log), c.want)
        << c.name;
    EXPECT_EQ(log_messages(log), std::vector<std::string>{c.line}) << c.name;
  }
}

TEST(Transcript, LastAssistantMessage) {
  struct Case {
    const char* name;
    const char* source;
    const char* payload;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"own member for any source", "claude", R"({"last_assistant_message":" a "})", " a "},
      {"own member as number", "claude", R"({"last_assistant_message":3})", "3"},
      {"own member null falls to the agent rule", "kiro",
       R"({"last_assistant_message":null,"assistant_response":"k"})", "k"},
      {"other agents have nothing", "claude", R"({"assistant_response":"k"})", std::nullopt},
      {"kiro untrimmed", "kiro", R"({"assistant_response":"  k \n"})", "  k \n"},
      {"kiro blank", "kiro", R"({"assistant_response":" \u3000 "})", std::nullopt},
      {"kiro not a string", "kiro", R"({"assistant_response":5})", std::nullopt},
      {"cline output text", "cline", R"({"turn":{"outputText":"o"}})", "o"},
      {"cline blank", "cline", R"({"turn":{"outputText":"   "}})", std::nullopt},
      {"gemini response", "gemini", R"({"prompt_response":"g"})", "g"},
      {"source case-sensitive", "Gemini", R"({"prompt_response":"g"})", std::nullopt},
      {"reasonix without role", "reasonix", R"({"messages":[{"content":"x"}]})", "x"},
      {"reasonix tool role ignored", "reasonix", R"({"messages":[{"role":"tool","content":"y"}]})",
       std::nullopt},
      {"reasonix newest assistant", "reasonix",
       R"({"messages":[{"role":"assistant","content":"a"},{"role":"Assistant","content":" b "},)"
       R"({"role":"user","content":"u"}]})",
       " b "},
      {"reasonix blank goes on", "reasonix",
       R"({"messages":[{"role":"assistant","content":"a"},{"role":"assistant","content":"  "}]})",
       "a"},
      {"reasonix parts untrimmed", "reasonix",
       R"({"messages":[{"role":"assistant","content":[" p ",{"text":"t"},{"content":"c"},)"
       R"({"text":5,"content":"skipped"},"  ",{"type":"x"},7]}]})",
       " p \nt\nc"},
      {"reasonix parts all blank go on", "reasonix",
       R"({"messages":[{"role":"assistant","text":"a"},{"role":"assistant","content":[" ",{"text":""}]}]})",
       "a"},
      {"reasonix first present member decides", "reasonix",
       R"({"messages":[{"role":"assistant","text":"a"},{"role":"assistant","content":null,"text":"t"}]})",
       "a"},
      {"reasonix non-string role counts as empty", "reasonix",
       R"({"messages":[{"role":1,"message":"m"}]})", "m"},
      {"reasonix turn messages first", "reasonix",
       R"({"turn":{"messages":[{"content":"t"}]},"messages":[{"content":"m"}]})", "t"},
      {"reasonix empty list", "reasonix", R"({"messages":[]})", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(resolve_last_assistant_message(c.source, Json::parse(c.payload)), c.want) << c.name;
  }
}

TEST(Transcript, TextFromValue) {
  struct Case {
    const char* name;
    std::optional<std::string> json;  // nothing: no value at all
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"no value", std::nullopt, std::nullopt},
      {"string trimmed", R"("  a b  ")", "a b"},
      {"unicode white space trimmed", "\"\u2003a\u00a0\"", "a"},
      {"blank string", R"("  \n ")", std::nullopt},
      {"list joined", R"([" a ",{"text":"b"},{"content":" c "},{"message":"d"}])", "a\nb\nc\nd"},
      {"first present key decides", R"([{"text":5,"content":"c"},"x"])", "x"},
      {"text before content", R"([{"content":"c","text":"t"}])", "t"},
      {"blank parts dropped", R"(["", " ", {"text":"  "}, "z"])", "z"},
      {"nested lists ignored", R"([["a"],"b"])", "b"},
      {"all parts blank", R"([" ",{"text":""}])", std::nullopt},
      {"empty list", "[]", std::nullopt},
      {"object", R"({"text":"a"})", std::nullopt},
      {"number", "5", std::nullopt},
      {"null", "null", std::nullopt},
  };
  for (const auto& c : cases) {
    std::optional<Json> value;
    if (c.json) value = Json::parse(*c.json);
    EXPECT_EQ(text_from_value(value ? &*value : nullptr), c.want) << c.name;
  }
}

TEST(Transcript, PreviewForLog) {
  struct Case {
    const char* name;
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"white space collapsed", "a\n\n  b", "a b"},
      {"ends trimmed", " \t a \u2028", "a"},
      {"empty", "", ""},
      {"180 characters kept whole", std::string(180, 'x'), std::string(180, 'x')},
      {"181 characters cut", std::string(181, 'x'), std::string(180, 'x') + "\u2026"},
      {"cut counts characters, not bytes",
       [] {
         std::string s;
         for (int i = 0; i < 181; ++i) s += "\u00e9";
         return s;
       }(),
       [] {
         std::string s;
         for (int i = 0; i < 180; ++i) s += "\u00e9";
         return s + "\u2026";
       }()},
      {"length after collapsing", std::string(100, 'x') + "      " + std::string(79, 'y'),
       std::string(100, 'x') + " " + std::string(79, 'y')},
  };
  for (const auto& c : cases) EXPECT_EQ(preview_for_log(c.text), c.want) << c.name;
}

}  // namespace
}  // namespace ombrel::hook
