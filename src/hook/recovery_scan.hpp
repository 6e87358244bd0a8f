// Finds, among all "{" and "[" positions of a text, those from which the JSON parser
// (parse_json_prefix: first value only, at most kMaxJsonDepth levels) reads a value, with
// the parser's exact rules. Trying the parser at every position costs time quadratic in
// the text; this scan answers for all positions together in linear time and memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel::hook {

struct BracketValue {
  bool parses = false;  // parse_json_prefix from here succeeds
  bool is_object = false;
  bool has_cursor_version = false;  // a member named "cursor_version" at the top level
  std::size_t end = 0;              // just past the closing bracket, when it parses
};

// Offset is the integer type that holds positions in the text: 32 bits keep the tables
// small for any text below 4 GiB, 64 bits serve the rest.
template <class Offset>
class BasicBracketScan {
 public:
  // The text must outlive the scan.
  explicit BasicBracketScan(std::string_view text);

  static bool fits(std::size_t size) { return size < std::numeric_limits<Offset>::max(); }

  // pos must hold "{" or "[".
  BracketValue value_at(std::size_t pos);

  // The first position at or after from whose value is an object with a member
  // "cursor_version"; nothing when there is none.
  std::optional<std::size_t> next_cursor_object(std::size_t from);

  // Units of work done so far (tokens and bytes examined): a measure that must stay
  // proportional to the text's length whatever the text.
  std::uint64_t work() const { return work_; }

 private:
  enum class Expect : std::uint8_t {
    kValueOrClose,
    kValue,
    kKeyOrClose,
    kKey,
    kColon,
    kCommaOrClose
  };
  struct Frame {
    Offset bracket;       // the container's rank among the text's brackets
    std::uint8_t height;  // levels of nesting, this one included, capped
    Expect expect;
    bool object;
    bool has_cursor_version;
  };

  std::size_t rank(std::size_t pos) const;
  std::optional<std::size_t> next_bracket(std::size_t from) const;
  void scan_from(std::size_t root);
  void fail_all();
  void open(std::size_t pos);
  std::size_t skip_white_space(std::size_t i);
  std::size_t lex_scalar(std::size_t i);
  std::size_t lex_string(std::size_t i);
  std::size_t lex_number(std::size_t i);
  bool number_is_finite(std::size_t begin, std::size_t end);
  bool string_equals(std::size_t begin, std::size_t end, std::string_view want) const;

  std::string_view text_;
  std::vector<std::uint64_t> bits_;   // bit i set when text_[i] is "{" or "["
  std::vector<Offset> ranks_;         // brackets before each 64-bit word
  std::unique_ptr<Offset[]> ends_;    // per bracket, written once known to parse
  std::vector<std::uint16_t> infos_;  // per bracket: outcome and height
  std::size_t brackets_ = 0;
  std::vector<Frame> stack_;
  std::string number_;
  std::uint64_t work_ = 0;
};

extern template class BasicBracketScan<std::uint32_t>;
extern template class BasicBracketScan<std::uint64_t>;

using BracketScan = BasicBracketScan<std::uint32_t>;

}  // namespace ombrel::hook
