#include "converter/deflate_pool.h"

#include "converter/flate_encoder.h"

namespace pageout::converter {

DeflatePool::DeflatePool(unsigned threads, std::size_t usual_size) : usual_size_(usual_size) {
  if (threads == 0) threads = 1;
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

DeflatePool::~DeflatePool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DeflatePool::Submit(std::unique_ptr<Batch> batch) {
  Batch* entry = batch.get();
  entry->done = false;
  batches_.push_back(std::move(batch));
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(entry);
  }
  work_ready_.notify_one();
}

std::unique_ptr<DeflatePool::Batch> DeflatePool::TakeOldest() {
  std::unique_ptr<Batch> oldest = std::move(batches_.front());
  batches_.pop_front();
  std::unique_lock lock(mutex_);
  batch_done_.wait(lock, [&] { return oldest->done; });
  return oldest;
}

void DeflatePool::Work() {
  FlateEncoder encoder;
  for (;;) {
    Batch* batch = nullptr;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      batch = queue_.front();
      queue_.pop_front();
    }
    batch->compressed.resize(batch->data.size());
    for (std::size_t i = 0; i < batch->data.size(); ++i) {
      std::string& out = batch->compressed[i];
      // A new string is written over once for a page of the usual size, so that it takes its
      // pages of memory now rather than bit by bit as longer pages come along.
      if (out.capacity() == 0) out.assign(usual_size_, '\0');
      encoder.Compress(batch->data[i], &out);
    }
    {
      std::lock_guard lock(mutex_);
      batch->done = true;
    }
    batch_done_.notify_all();
  }
}

}  // namespace pageout::converter
