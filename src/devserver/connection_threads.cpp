#include "connection_threads.hpp"

#include <system_error>
#include <thread>

namespace ombrel::devserver {

namespace {

// "Taken": nothing for the void signature, true for the bool one.
template <class R>
R accepted() {
  if constexpr (!std::is_void_v<R>) return true;
}

}  // namespace

ConnectionThreads::ConnectionThreads(std::size_t max_threads)
    : max_threads_(max_threads == 0 ? 1 : max_threads) {}

ConnectionThreads::~ConnectionThreads() {
  shutdown();
}

EnqueueResult ConnectionThreads::enqueue(std::function<void()> task) {
  {
    std::unique_lock lock(counter_->mutex);
    counter_->changed.wait(lock, [&] { return counter_->active < max_threads_; });
    ++counter_->active;
  }
  auto shared_task = std::make_shared<std::function<void()>>(std::move(task));
  auto serve = [counter = counter_, shared_task]() mutable {
    (*shared_task)();
    shared_task.reset();  // the connection's resources go before the count says it is done
    std::lock_guard lock(counter->mutex);
    --counter->active;
    counter->changed.notify_all();
  };
  try {
    std::thread(serve).detach();
  } catch (const std::system_error&) {
    // Out of threads: serve this connection on the accepting thread rather than drop it.
    serve();
  }
  return accepted<EnqueueResult>();
}

void ConnectionThreads::shutdown() {
  std::unique_lock lock(counter_->mutex);
  counter_->changed.wait(lock, [&] { return counter_->active == 0; });
}

}  // namespace ombrel::devserver
