// Compresses batches of page content streams into zlib streams on worker threads, handing the
// results back in the order the batches were submitted.
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
  // A batch of strings and, once compressed, their zlib streams. Batches are meant to be reused:
  // the strings keep their capacity, so that a long run stops allocating once warm.
  struct Batch {
    std::vector<std::string> data;
    std::vector<std::string> compressed;
    bool done = false;  // guarded by the pool
  };

  // `threads` workers (at least one) compress with a FlateEncoder each. Strings up to
  // `usual_size` bytes long are the rule: every output string is given room for one of them from
  // the start, so that memory use is the same early in a run and late.
  DeflatePool(unsigned threads, std::size_t usual_size);
  ~DeflatePool();
  DeflatePool(const DeflatePool&) = delete;
  DeflatePool& operator=(const DeflatePool&) = delete;

  // Queues a batch; each string of `data` is compressed on its own into one zlib stream, into
  // the string of `compressed` at the same index.
  void Submit(std::unique_ptr<Batch> batch);
  // The number of batches submitted and not yet taken back.
  std::size_t pending() const { return batches_.size(); }
  // Waits for the oldest pending batch and returns it compressed. Call only when pending() > 0.
  std::unique_ptr<Batch> TakeOldest();

 private:
  void Work();

  std::size_t usual_size_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable batch_done_;
  std::deque<Batch*> queue_;                    // waiting for a worker
  std::deque<std::unique_ptr<Batch>> batches_;  // submitted, in order; touched by the caller only
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace pageout::converter
