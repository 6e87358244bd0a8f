// The HTTP server's task queue: every connection gets a thread of its own, because a
// permission request holds its connection until somebody decides, and a fixed pool would
// let a few waiting approvals starve every other client.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

namespace ombrel::devserver {

// Older cpp-httplib versions declare enqueue as void, newer ones as bool (false: the
// server closes the connection itself). Either is overridden with the right signature.
using EnqueueResult = std::invoke_result_t<decltype(&httplib::TaskQueue::enqueue),
                                           httplib::TaskQueue&, std::function<void()>>;

class ConnectionThreads : public httplib::TaskQueue {
 public:
  // At most max_threads connections are served at once; a further connection waits in the
  // listen backlog until one ends.
  explicit ConnectionThreads(std::size_t max_threads);
  ~ConnectionThreads() override;

  EnqueueResult enqueue(std::function<void()> task) override;
  // Waits until every connection has been served.
  void shutdown() override;

 private:
  // Shared with the threads, which may still be unwinding when the queue is destroyed.
  struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t active = 0;
  };

  std::size_t max_threads_;
  std::shared_ptr<Counter> counter_ = std::make_shared<Counter>();
};

}  // namespace ombrel::devserver
