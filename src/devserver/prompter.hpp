// Asks on the terminal about the approvals that the policy leaves to the user, one at a
// time and oldest first. Runs on its own thread, so that a waiting prompt never holds up
// the server; an approval withdrawn while it is shown is dropped from the prompt at once.
#pragma once

#include <thread>

#include "approvals.hpp"
#include "line_reader.hpp"
#include "output.hpp"

namespace ombrel::devserver {

class Prompter {
 public:
  // The board and console must outlive the prompter, and the reader must outlive the
  // board: it is woken through the board's release observer, which this installs.
  Prompter(ApprovalBoard& board, Console& console, LineReader& reader);
  ~Prompter();  // joins; close the board first
  Prompter(const Prompter&) = delete;
  Prompter& operator=(const Prompter&) = delete;

  void start();

 private:
  void run();
  // Asks until the approval is answered, withdrawn or the board closes.
  void ask(const PendingApproval& approval);

  ApprovalBoard& board_;
  Console& console_;
  LineReader& reader_;
  bool input_closed_ = false;
  std::thread thread_;
};

}  // namespace ombrel::devserver
