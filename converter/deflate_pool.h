// Compresses batches of page content streams on worker threads, handing the results back in the
// order the batches were submitted.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pageout::converter {

class DeflatePool {
 public:
  // `threads` workers (at least one) compress with zlib at `level`.
  DeflatePool(unsigned threads, int level);
  ~DeflatePool();
  DeflatePool(const DeflatePool&) = delete;
  DeflatePool& operator=(const DeflatePool&) = delete;

  // Queues a batch; each string is compressed on its own into one zlib stream.
  void Submit(std::vector<std::string> batch);
  // The number of batches submitted and not yet taken back.
  std::size_t pending() const { return batches_.size(); }
  // Waits for the oldest pending batch and returns its compressed strings, in order. Call only
  // when pending() > 0.
  std::vector<std::string> TakeOldest();

  // Compresses `data` into one zlib stream; the workers' routine, for one-off use too.
  static std::string Compress(const std::string& data, int level);

 private:
  struct Batch {
    std::vector<std::string> data;
    bool done = false;
  };
  void Work();

  int level_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable batch_done_;
  std::deque<std::shared_ptr<Batch>> queue_;    // waiting for a worker
  std::deque<std::shared_ptr<Batch>> batches_;  // submitted, in order; touched by the caller only
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace pageout::converter
