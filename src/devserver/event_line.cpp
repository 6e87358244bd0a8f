#include "event_line.hpp"

#include <time.h>

#include <cstdio>

#include "visible_text.hpp"

namespace ombrel::devserver {

namespace {

// Cuts after max_chars UTF-8 characters; continuation bytes never start a character.
std::string_view cut_chars(std::string_view text, std::size_t max_chars, bool& cut) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == max_chars) {
      cut = true;
      return text.substr(0, i);
    }
  }
  cut = false;
  return text;
}

// Appends " label=value" when the value exists and is not empty.
void add_field(std::string& line, std::string_view label, const std::optional<std::string>& value) {
  if (!value || value->empty()) return;
  line += " ";
  line += label;
  line += "=";
  line += field_value(*value);
}

void add_word(std::string& line, const std::optional<std::string>& value) {
  if (!value || value->empty()) return;
  line += " " + field_value(*value);
}

void add_detail(std::string& line, const std::optional<ToolDetail>& detail) {
  if (detail) add_field(line, detail->label, detail->text);
}

std::string source_tag(std::string_view source) {
  return "[" + (source.empty() ? std::string("?") : field_value(source)) + "]";
}

}  // namespace

std::string clock_text(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(time);
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
  struct tm local {};
  localtime_r(&seconds, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis < 0 ? millis + 1000 : millis));
  return text;
}

std::string field_value(std::string_view text) {
  bool cut = false;
  std::string_view kept = cut_chars(text, kMaxValueChars, cut);
  std::string value;
  if (is_plain(text)) {
    value = kept;
  } else {
    value = "\"";
    for (const std::string& piece : shown_pieces(kept, true)) value += piece;
    value += "\"";
  }
  if (cut) value += "...";
  return value;
}

std::string state_line(std::string_view clock, const Json& report) {
  std::string line(clock);
  line += " " + source_tag(scalar_text(report, "source").value_or(""));
  line += " " + field_value(scalar_text(report, "event").value_or("?"));
  add_word(line, scalar_text(report, "tool_name"));
  if (const Json* input = member(report, "tool_input")) add_detail(line, tool_detail(*input));
  add_field(line, "cwd", scalar_text(report, "cwd"));
  add_field(line, "session", scalar_text(report, "session_id"));
  add_field(line, "tmux", scalar_text(report, "om_tmux_session"));
  return line;
}

std::string permission_line(std::string_view clock, std::uint64_t id,
                            const ApprovalRequest& request) {
  std::string line(clock);
  line += " " + source_tag(request.source);
  line += " permission #" + std::to_string(id);
  add_word(line, request.tool_name);
  add_detail(line, request.detail);
  if (request.question) add_field(line, "question", request.question->text);
  add_field(line, "cwd", request.cwd);
  add_field(line, "session", request.session_id);
  return line;
}

std::string decision_line(std::string_view clock, std::uint64_t id, const Decision& decision) {
  std::string line(clock);
  line += " permission #" + std::to_string(id) + " -> " + field_value(decision.behavior);
  if (!decision.reason.empty()) line += " (" + decision.reason + ")";
  if (!decision.message.empty()) add_field(line, "message", decision.message);
  return line;
}

std::string cancel_line(std::string_view clock, std::string_view session_id,
                        const std::vector<std::uint64_t>& withdrawn) {
  std::string line(clock);
  line += " cancel session=" + field_value(session_id) + ": ";
  if (withdrawn.empty()) return line + "nothing was pending";
  line += "withdrew";
  for (std::size_t i = 0; i < withdrawn.size(); ++i) {
    line += (i == 0 ? " #" : ", #") + std::to_string(withdrawn[i]);
  }
  return line;
}

std::string register_line(std::string_view clock, const Json& registration) {
  std::string line(clock);
  line += " tmux register " + field_value(scalar_text(registration, "tmux_name").value_or(""));
  add_field(line, "tool", scalar_text(registration, "tool"));
  add_field(line, "cwd", scalar_text(registration, "cwd"));
  add_field(line, "terminal", scalar_text(registration, "launcher_terminal_app"));
  add_field(line, "tty", scalar_text(registration, "launcher_tty"));
  return line;
}

std::string lookup_line(std::string_view clock, std::string_view tmux_name,
                        const std::optional<std::string>& session_id) {
  std::string line(clock);
  line += " tmux lookup " + field_value(tmux_name) + " -> ";
  line += session_id ? field_value(*session_id) : std::string("null");
  return line;
}

std::string policy_line(const Policy& policy, bool mode_from_command_line) {
  std::string line = "approvals: ";
  if (policy.mode == Mode::Ask) {
    line += "ask on this terminal";
  } else {
    line += std::string(mode_name(policy.mode));
  }
  if (!mode_from_command_line) {
    line += policy.mode == Mode::Ask ? " (stdin is a terminal; choose another with --decide)"
                                     : " (stdin is not a terminal; choose another with --decide)";
  }
  for (std::size_t i = 0; i < policy.deny_tools.size(); ++i) {
    line += (i == 0 ? "; always deny " : ", ") + field_value(policy.deny_tools[i]);
  }
  if (policy.answer) {
    line += "; AskUserQuestion gets option " + std::to_string(*policy.answer);
  }
  return line;
}

namespace {

void append_token(std::vector<std::string>& pieces, std::string_view value) {
  for (std::string& piece : token_pieces(value)) pieces.push_back(std::move(piece));
}

// "PREFIX value", the value whole.
std::vector<std::string> labelled(std::string_view prefix, std::string_view value) {
  std::vector<std::string> pieces;
  append_literal(pieces, prefix);
  append_token(pieces, value);
  return pieces;
}

}  // namespace

std::vector<std::string> prompt_lines(std::uint64_t id, const ApprovalRequest& request,
                                      std::size_t width) {
  std::vector<std::string> lines;
  auto add = [&](const std::vector<std::string>& pieces, std::size_t indent) {
    for (std::string& row : wrap(pieces, width, indent)) lines.push_back(std::move(row));
  };
  std::vector<std::string> head;
  append_literal(head, "  #" + std::to_string(id) + " [");
  if (request.source.empty()) {
    append_literal(head, "?");
  } else {
    append_token(head, request.source);
  }
  append_literal(head, "] ");
  if (request.tool_name.empty()) {
    append_literal(head, "(no tool name)");
  } else {
    append_token(head, request.tool_name);
  }
  append_literal(head, " wants permission");
  if (!request.session_id.empty()) {
    append_literal(head, " (session ");
    append_token(head, request.session_id);
    append_literal(head, ")");
  }
  add(head, 4);
  if (request.detail) add(labelled("    " + request.detail->label + ": ", request.detail->text), 6);
  if (!request.cwd.empty()) add(labelled("    cwd: ", request.cwd), 6);
  if (request.question) {
    add(labelled("    question: ", request.question->text), 6);
    const auto& options = request.question->options;
    for (std::size_t i = 0; i < options.size(); ++i) {
      // Counted from 1 here and at the prompt; the hook is sent the index from 0.
      const std::string number = "      " + std::to_string(i + 1) + ") ";
      if (options[i]) {
        add(labelled(number, *options[i]), 9);
      } else {
        lines.push_back(number + "(no label)");
      }
    }
  }
  return lines;
}

std::string prompt_input(const ApprovalRequest& request) {
  if (request.question) return "  option number, y = allow, n [message] = deny, p = passthrough > ";
  return "  y = allow, n [message] = deny, p = passthrough > ";
}

}  // namespace ombrel::devserver
