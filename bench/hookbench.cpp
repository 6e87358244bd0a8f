// Times programs that each read a payload on stdin and POST it once, pair by pair.
//
//   hookbench gen small|medium|large      writes a Claude Code PostToolUse payload to stdout
//   hookbench run -m MEASURE -n N -i FILE --peer NAME CMD... [--peer NAME CMD...]
//
// Every iteration runs each peer once (the order rotates) through MEASURE (bench/measure.c),
// with stdin from FILE and stdout to /dev/null, and records its wall time, CPU time and
// peak RSS. The first peer is the
// reference: ratios are the median of the per-iteration ratios against it.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string json_escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

// Source text with the characters that make JSON escaping work: quotes, backslashes, tabs
// and non-ASCII letters.
std::string source_text(std::size_t bytes) {
  const std::string lines[] = {
      "#include <stdio.h>\n",
      "// Größe der Übersetzungstabelle — 翻译表的大小 — размер таблицы\n",
      "static const char* kPath = \"C:\\\\Users\\\\me\\\\data\\\\file.txt\";\n",
      "int main(void) {\n",
      "\tprintf(\"%s: \\\"%d\\\"\\n\", kPath, 42);\n",
      "\tfor (int i = 0; i < 10; ++i) { if (i % 2) continue; puts(\"tab\\there\"); }\n",
      "\treturn 0; /* naïve café résumé */\n",
      "}\n",
  };
  std::string out;
  for (std::size_t i = 0; out.size() < bytes; ++i) out += lines[i % 8];
  return out;
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// small: an Edit of about 1.5 KB; medium: a Read of a 256 KB file, which Claude Code hands
// back whole in tool_response; large: a Write of 5 MB of source text in tool_input.
std::string payload(const std::string& size) {
  const std::string head =
      R"({"session_id":"4f1c2e3a-9b7d-4c1e-8a2b-5d6e7f809a1b","transcript_path":"/Users/me/.claude/projects/-Users-me-code-app/4f1c2e3a-9b7d-4c1e-8a2b-5d6e7f809a1b.jsonl","cwd":"/Users/me/code/app","permission_mode":"default","hook_event_name":"PostToolUse",)";
  if (size == "large") {
    std::string content = json_escape(source_text(5 * 1000 * 1000));
    return head +
           R"("tool_name":"Write","tool_input":{"file_path":"/Users/me/code/app/src/generated.c","content":")" +
           content +
           R"("},"tool_response":{"filePath":"/Users/me/code/app/src/generated.c","success":true},"tool_use_id":"toolu_01ABCDEF"})";
  }
  if (size == "medium") {
    const std::string text = source_text(256 * 1024);
    const std::string lines = std::to_string(line_count(text));
    return head +
           R"("tool_name":"Read","tool_input":{"file_path":"/Users/me/code/app/src/table.c"},"tool_response":{"type":"text","file":{"filePath":"/Users/me/code/app/src/table.c","content":")" +
           json_escape(text) + R"(","numLines":)" + lines + R"(,"startLine":1,"totalLines":)" +
           lines + R"(}},"tool_use_id":"toolu_01READ"})";
  }
  std::string old_string = json_escape(source_text(420));
  std::string new_string = json_escape(source_text(480));
  return head +
         R"("tool_name":"Edit","tool_input":{"file_path":"/Users/me/code/app/src/main.c","old_string":")" +
         old_string + R"(","new_string":")" + new_string +
         R"(","replace_all":false},"tool_response":{"filePath":"/Users/me/code/app/src/main.c","structuredPatch":[{"oldStart":3,"oldLines":4,"newStart":3,"newLines":5}],"userModified":false},"tool_use_id":"toolu_01XYZ"})";
}

struct Sample {
  double wall_ms, cpu_ms, rss_mib;
};

struct Peer {
  std::string name;
  std::vector<std::string> argv;
  std::vector<Sample> samples;
};

// One run through the measure program, which starts the peer and reports on it.
bool run_once(const std::string& measure, Peer& peer, const std::string& input, bool keep) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> words = {measure, input};
  words.insert(words.end(), peer.argv.begin(), peer.argv.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    std::cerr << "cannot start " << measure << ": " << std::strerror(rc) << "\n";
    return false;
  }
  std::string report;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    report.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  long long wall_ns = 0, cpu_us = 0;
  long rss_kib = 0;
  int status = -1;
  if (std::sscanf(report.c_str(), "%lld %lld %ld %d", &wall_ns, &cpu_us, &rss_kib, &status) != 4 ||
      status != 0) {
    std::cerr << peer.name << ": failed (" << report << ")\n";
    return false;
  }
  if (keep) peer.samples.push_back({wall_ns / 1e6, cpu_us / 1e3, rss_kib / 1024.0});
  return true;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()      ? 0
         : v.size() % 2 ? v[v.size() / 2]
                        : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int usage() {
  std::cerr
      << "usage: hookbench gen small|medium|large\n"
         "       hookbench run -m MEASURE -n N -i FILE --peer NAME CMD... [--peer NAME CMD...]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "gen") {
    if (args[1] != "small" && args[1] != "medium" && args[1] != "large") return usage();
    std::cout << payload(args[1]);
    return 0;
  }
  if (args.empty() || args[0] != "run") return usage();
  int iterations = 200, warmup = 20;
  std::string input, measure;
  std::vector<Peer> peers;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-n" && i + 1 < args.size()) {
      iterations = std::stoi(args[++i]);
    } else if (args[i] == "-m" && i + 1 < args.size()) {
      measure = args[++i];
    } else if (args[i] == "-i" && i + 1 < args.size()) {
      input = args[++i];
    } else if (args[i] == "--peer" && i + 2 < args.size()) {
      peers.push_back({args[++i], {}, {}});
    } else if (!peers.empty()) {
      peers.back().argv.push_back(args[i]);
    } else {
      return usage();
    }
  }
  if (input.empty() || measure.empty() || peers.empty()) return usage();
  warmup = std::min(warmup, std::max(iterations / 10, 1));

  for (int it = 0; it < warmup + iterations; ++it) {
    for (std::size_t k = 0; k < peers.size(); ++k) {
      Peer& peer = peers[(k + static_cast<std::size_t>(it)) % peers.size()];
      if (!run_once(measure, peer, input, it >= warmup)) return 1;
    }
  }

  std::printf("%-14s %10s %8s %10s %10s\n", "peer", "wall ms", "x ref", "cpu ms", "peak MiB");
  for (auto& peer : peers) {
    std::vector<double> wall, cpu, ratio;
    double rss = 0;
    for (std::size_t i = 0; i < peer.samples.size(); ++i) {
      wall.push_back(peer.samples[i].wall_ms);
      cpu.push_back(peer.samples[i].cpu_ms);
      ratio.push_back(peer.samples[i].wall_ms / peers[0].samples[i].wall_ms);
      rss = std::max(rss, peer.samples[i].rss_mib);
    }
    std::printf("%-14s %10.3f %8.2f %10.3f %10.1f\n", peer.name.c_str(), median(wall),
                median(ratio), median(cpu), rss);
  }
  return 0;
}
