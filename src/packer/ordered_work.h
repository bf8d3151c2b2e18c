#pragma once
// Runs independent pieces of work on several threads and hands their results on in order,
// so that what is written from them is the same bytes whatever the number of threads.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace vorlatch::packer {

// The number of threads to use when the caller asks for 0: the machine's cores (at least 1).
inline unsigned DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

// Calls `produce(i)` for i = 0 .. count-1 on up to `jobs` threads and `consume(i, result)` on
// the calling thread strictly in the order of i. At most `jobs` + 2 results are held at once,
// so memory stays bounded by the largest few pieces. When `consume` returns false, no further
// piece is started and no further result consumed; the call then returns false.
template <typename Result>
bool ForEachInOrder(std::size_t count, unsigned jobs,
                    const std::function<Result(std::size_t)>& produce,
                    const std::function<bool(std::size_t, Result&)>& consume) {
  if (jobs <= 1 || count <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      Result result = produce(i);
      if (!consume(i, result)) {
        return false;
      }
    }
    return true;
  }
  // Slots for the window [next to consume, next to consume + window): a worker takes the next
  // piece only while it fits into the window, so a slow piece early on bounds what waits.
  const std::size_t window = static_cast<std::size_t>(jobs) + 1;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::optional<Result>> ready;  // ready[k] is the result of piece consumed + k
  std::size_t consumed = 0;
  std::size_t started = 0;
  bool stop = false;

  auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || started >= count || started < consumed + window; });
      if (stop || started >= count) {
        return;
      }
      const std::size_t i = started++;
      lock.unlock();
      Result result = produce(i);
      lock.lock();
      const std::size_t k = i - consumed;
      if (ready.size() <= k) {
        ready.resize(k + 1);
      }
      ready[k].emplace(std::move(result));
      changed.notify_all();
    }
  };

  std::vector<std::thread> threads;
  const unsigned threadCount = static_cast<unsigned>(std::min<std::size_t>(jobs, count));
  threads.reserve(threadCount);
  for (unsigned t = 0; t < threadCount; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had (a memory limit): those there are do the work
    }
  }
  if (threads.empty()) {
    return ForEachInOrder(count, 1, produce, consume);
  }
  bool ok = true;
  {
    std::unique_lock lock(mutex);
    while (consumed < count) {
      changed.wait(lock, [&] { return !ready.empty() && ready.front().has_value(); });
      // The slot and the count move together, so that a worker that finishes meanwhile files
      // its result under the right index.
      std::optional<Result> result = std::move(ready.front());
      ready.pop_front();
      const std::size_t i = consumed++;
      changed.notify_all();
      lock.unlock();
      const bool go = consume(i, *result);
      result.reset();  // release the piece before the lock is taken again
      lock.lock();
      if (!go) {
        ok = false;
        stop = true;
        changed.notify_all();
        break;
      }
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  return ok;
}

}  // namespace vorlatch::packer
