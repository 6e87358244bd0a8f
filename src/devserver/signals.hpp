// Turns SIGINT, SIGTERM and SIGHUP into a call on an ordinary thread, where a clean
// shutdown can take locks and wait.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "common/result.hpp"

namespace ombrel::devserver {

class SignalWatcher {
 public:
  // Blocks the signals in the calling thread; call it before any other thread starts so
  // that every thread inherits the mask and only the watcher receives them.
  static Status block_signals();

  SignalWatcher() = default;
  ~SignalWatcher();  // stop()
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // on_signal runs on the watcher's thread with the signal number, at most once.
  void start(std::function<void(int)> on_signal);
  // Ends the watcher without calling on_signal (unless it already runs) and joins it.
  void stop();

 private:
  void run();

  std::function<void(int)> on_signal_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace ombrel::devserver
