#include "converter/deflate_pool.h"

#include <zlib.h>

#include <new>

namespace pageout::converter {

Deflater::Deflater(int level) {
  if (deflateInit(&stream_, level) != Z_OK) throw std::bad_alloc();
}

Deflater::~Deflater() { deflateEnd(&stream_); }

void Deflater::Compress(const std::string& data, std::string* out, std::size_t usual_size) {
  deflateReset(&stream_);
  if (out->capacity() == 0 && usual_size > 0) {
    out->resize(deflateBound(&stream_, static_cast<uLong>(usual_size)));
  }
  out->resize(deflateBound(&stream_, static_cast<uLong>(data.size())));
  stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream_.avail_in = static_cast<uInt>(data.size());
  stream_.next_out = reinterpret_cast<Bytef*>(out->data());
  stream_.avail_out = static_cast<uInt>(out->size());
  // The bound guarantees that one call with Z_FINISH completes the stream.
  deflate(&stream_, Z_FINISH);
  out->resize(stream_.total_out);
}

DeflatePool::DeflatePool(unsigned threads, int level, std::size_t usual_size)
    : level_(level), usual_size_(usual_size) {
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
  Deflater deflater(level_);
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
      deflater.Compress(batch->data[i], &batch->compressed[i], usual_size_);
    }
    {
      std::lock_guard lock(mutex_);
      batch->done = true;
    }
    batch_done_.notify_all();
  }
}

}  // namespace pageout::converter
