#include "signals.hpp"

#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <string>

namespace ombrel::devserver {

namespace {

sigset_t shutdown_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

Status SignalWatcher::block_signals() {
  sigset_t set = shutdown_signals();
  if (int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
    return fail(std::string("cannot block signals: ") + std::strerror(error));
  }
  return {};
}

SignalWatcher::~SignalWatcher() {
  stop();
}

void SignalWatcher::start(std::function<void(int)> on_signal) {
  on_signal_ = std::move(on_signal);
  thread_ = std::thread([this] { run(); });
}

void SignalWatcher::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  // The signal is blocked everywhere, so it stays pending for the watcher's sigwait.
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

void SignalWatcher::run() {
  const sigset_t set = shutdown_signals();
  bool handled = false;
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (stopping_) return;
    // Later signals find the shutdown already under way; it ends on its own.
    if (!handled) {
      handled = true;
      on_signal_(signal);
    }
  }
}

}  // namespace ombrel::devserver
