#include "handler_threads.hpp"

#include <system_error>
#include <thread>

namespace ombrel::devserver {

HandlerThreads::~HandlerThreads() {
  wait_idle();
}

bool HandlerThreads::spawn(std::function<void()> task) {
  {
    std::lock_guard lock(counter_->mutex);
    if (counter_->active >= max_threads_) return false;
    ++counter_->active;
  }
  auto done = [counter = counter_] {
    std::lock_guard lock(counter->mutex);
    --counter->active;
    counter->changed.notify_all();
  };
  try {
    std::thread([task = std::move(task), done]() mutable {
      task();
      task = nullptr;  // what the task holds goes before the count says it has ended
      done();
    }).detach();
  } catch (const std::system_error&) {
    done();
    return false;
  }
  return true;
}

void HandlerThreads::wait_idle() {
  std::unique_lock lock(counter_->mutex);
  counter_->changed.wait(lock, [&] { return counter_->active == 0; });
}

}  // namespace ombrel::devserver
