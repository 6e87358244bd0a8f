// The threads that answer requests: one per request, because a permission request waits
// until somebody decides and must hold up nobody else. Bounded, so that a flood of
// requests is refused instead of exhausting the process.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace ombrel::devserver {

class HandlerThreads {
 public:
  explicit HandlerThreads(std::size_t max_threads) : max_threads_(max_threads) {}
  ~HandlerThreads();  // wait_idle()
  HandlerThreads(const HandlerThreads&) = delete;
  HandlerThreads& operator=(const HandlerThreads&) = delete;

  // Runs the task on a thread of its own; false (and the task not run) when max_threads
  // are busy or the system has no thread to give.
  bool spawn(std::function<void()> task);
  // Waits until every task has ended.
  void wait_idle();

 private:
  // Shared with the threads, which may still be unwinding when this object goes.
  struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t active = 0;
  };

  std::size_t max_threads_;
  std::shared_ptr<Counter> counter_ = std::make_shared<Counter>();
};

}  // namespace ombrel::devserver
