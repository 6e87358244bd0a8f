// Times recover_cursor_payload on hostile payloads of 1 MiB (and other sizes with --size),
// and, with --naive, the obvious method of running the JSON parser from every bracket on
// smaller texts, to show the difference in growth.
//
//   recovery_bench [--size BYTES] [--reps N] [--naive [--naive-size BYTES]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "json_text.hpp"
#include "recovery.hpp"

namespace {

using ombrel::hook::Json;

std::string repeat_to(std::string_view piece, std::size_t size) {
  std::string out;
  out.reserve(size + piece.size());
  while (out.size() + piece.size() <= size) out += piece;
  return out;
}

struct Case {
  const char* name;
  std::function<std::string(std::size_t)> make;  // a text of about the given size
};

const std::string kCursor = R"({"cursor_version":"1.7","hook_event_name":"stop"})";

const Case kCases[] = {
    {"open brackets", [](std::size_t n) { return std::string(n, '['); }},
    {"open objects {\"a\":", [](std::size_t n) { return repeat_to("{\"a\":", n); }},
    {"128 deep, then an unterminated list",
     [](std::size_t n) { return std::string(128, '[') + repeat_to("1,", n - 128); }},
    {"small objects without the key", [](std::size_t n) { return repeat_to("{\"a\":1}", n); }},
    {"lists never closed", [](std::size_t n) { return repeat_to("[[1],", n); }},
    {"one string full of brackets",
     [](std::size_t n) { return "[\"" + std::string(n - 4, '[') + "\"]"; }},
    {"unterminated strings after brackets", [](std::size_t n) { return repeat_to("[\"", n); }},
    {"bracket-quote pairs", [](std::size_t n) { return repeat_to("[\"[\",", n); }},
    {"closed arrays nested too deep",
     [](std::size_t n) { return std::string(n / 2, '[') + std::string(n / 2, ']'); }},
    {"numbers needing conversion", [](std::size_t n) { return repeat_to("[1.5e300,", n); }},
    {"escaped keys", [](std::size_t n) { return repeat_to("{\"\\u0061\":", n); }},
    {"cursor objects that never close",
     [](std::size_t n) { return repeat_to("{\"cursor_version\":1,\"x\":", n); }},
    {"cursor object after broken ones",
     [](std::size_t n) { return repeat_to("{\"a\":[1,", n - kCursor.size()) + kCursor; }},
    {"cursor object followed by junk",
     [](std::size_t n) { return kCursor + std::string(n - kCursor.size(), '['); }},
    {"field salvage (raw line break)",
     [](std::size_t n) {
       return "{\"cursor_version\":\"1\",\"hook_event_name\":\"stop\",\"p\":\"a\n" +
              repeat_to("[{x", n - 64) + "\"}";
     }},
};

// The obvious method: the parser from each bracket in turn.
std::optional<Json> naive_first_cursor_object(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{' && text[i] != '[') continue;
    auto parsed = ombrel::hook::parse_json_prefix(text.substr(i));
    if (parsed && parsed.value().is_object() && parsed.value().contains("cursor_version")) {
      return parsed.take();
    }
  }
  return std::nullopt;
}

struct Timing {
  double first_ms;  // the first run, as a hook process meets it: no memory to reuse yet
  double best_ms;
};

template <class F>
Timing time_runs(int reps, F&& run) {
  Timing t{0, 1e300};
  for (int r = 0; r < reps; ++r) {
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (r == 0) t.first_ms = took.count();
    t.best_ms = std::min(t.best_ms, took.count());
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t size = 1 << 20;
  int reps = 5;
  bool naive = false;
  std::size_t naive_size = 16 << 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      size = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--naive-size") == 0 && i + 1 < argc) {
      naive_size = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--naive") == 0) {
      naive = true;
    } else {
      std::fprintf(
          stderr,
          "usage: recovery_bench [--size BYTES] [--reps N] [--naive [--naive-size BYTES]]\n");
      return 2;
    }
  }

  std::printf("%-40s %10s %9s %10s %10s", "case", "bytes", "salvaged", "first ms", "best ms");
  if (naive) std::printf(" %12s %12s %12s", "bytes", "ms", "naive ms");
  std::printf("\n");
  double worst = 0;
  for (const Case& c : kCases) {
    const std::string text = c.make(size);
    bool salvaged = false;
    const Timing t = time_runs(
        reps, [&] { salvaged = ombrel::hook::recover_cursor_payload(text, "").has_value(); });
    worst = std::max(worst, t.first_ms);
    std::printf("%-40s %10zu %9s %10.2f %10.2f", c.name, text.size(), salvaged ? "yes" : "no",
                t.first_ms, t.best_ms);
    if (naive) {
      const std::string small = c.make(naive_size);
      const double fast =
          time_runs(reps, [&] { (void)ombrel::hook::parse_first_cursor_object(small); }).best_ms;
      const double slow = time_runs(1, [&] { (void)naive_first_cursor_object(small); }).best_ms;
      std::printf(" %12zu %12.2f %12.2f", small.size(), fast, slow);
    }
    std::printf("\n");
  }
  std::printf("worst first run: %.2f ms\n", worst);
  return 0;
}
