#include "prompter.hpp"

#include "event_line.hpp"

namespace ombrel::devserver {

Prompter::Prompter(ApprovalBoard& board, Console& console, LineReader& reader)
    : board_(board), console_(console), reader_(reader) {
  // The reader, not the prompter: the board may still release approvals (at the server's
  // final stop) after the prompter is gone, and the reader outlives both.
  board_.set_release_observer([&reader] { reader.wake(); });
}

Prompter::~Prompter() {
  if (thread_.joinable()) thread_.join();
}

void Prompter::start() {
  thread_ = std::thread([this] { run(); });
}

void Prompter::run() {
  while (auto approval = board_.next_to_prompt()) {
    if (input_closed_) {
      board_.decide(approval->id, input_closed_decision());
    } else {
      ask(*approval);
    }
  }
}

void Prompter::ask(const PendingApproval& approval) {
  const std::string id = "#" + std::to_string(approval.id);
  console_.show_prompt(prompt_lines(approval.id, approval.request, console_.columns()),
                       prompt_input(approval.request));
  for (;;) {
    ReadResult read = reader_.next();
    switch (read.event) {
      case ReadEvent::Woken:
        if (board_.is_pending(approval.id)) continue;  // another approval was released
        console_.end_prompt();
        console_.line("  " + id + " is no longer waiting");
        return;
      case ReadEvent::Closed:
        console_.end_prompt();
        console_.line("  no more input on the terminal: " + id +
                      " and every later approval pass through to the agent");
        input_closed_ = true;
        board_.decide(approval.id, input_closed_decision());
        return;
      case ReadEvent::Line:
        break;
    }
    auto decision = parse_reply(read.line, approval.request);
    if (!decision) {
      console_.end_prompt();
      std::vector<std::string> hint;
      if (!utf8::trim(read.line).empty())
        hint.push_back("  not understood: " + field_value(read.line));
      console_.show_prompt(hint, prompt_input(approval.request));
      continue;
    }
    console_.end_prompt();
    if (!board_.decide(approval.id, std::move(*decision))) {
      console_.line("  " + id + " is no longer waiting; the answer is dropped");
    }
    return;
  }
}

}  // namespace ombrel::devserver
