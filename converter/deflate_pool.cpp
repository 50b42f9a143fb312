#include "converter/deflate_pool.h"

#include <zlib.h>

#include <new>

namespace pageout::converter {
namespace {

// One deflate state per worker, reset between strings: setting one up allocates a few hundred
// kilobytes, which would otherwise be paid for every page.
class Deflater {
 public:
  explicit Deflater(int level) {
    if (deflateInit(&stream_, level) != Z_OK) throw std::bad_alloc();
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  std::string Compress(const std::string& data) {
    deflateReset(&stream_);
    std::string out(deflateBound(&stream_, static_cast<uLong>(data.size())), '\0');
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream_.avail_in = static_cast<uInt>(data.size());
    stream_.next_out = reinterpret_cast<Bytef*>(out.data());
    stream_.avail_out = static_cast<uInt>(out.size());
    // The bound guarantees that one call with Z_FINISH completes the stream.
    deflate(&stream_, Z_FINISH);
    out.resize(stream_.total_out);
    return out;
  }

 private:
  z_stream stream_{};
};

}  // namespace

DeflatePool::DeflatePool(unsigned threads, int level) : level_(level) {
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

void DeflatePool::Submit(std::vector<std::string> batch) {
  auto entry = std::make_shared<Batch>();
  entry->data = std::move(batch);
  batches_.push_back(entry);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(entry));
  }
  work_ready_.notify_one();
}

std::vector<std::string> DeflatePool::TakeOldest() {
  std::shared_ptr<Batch> oldest = std::move(batches_.front());
  batches_.pop_front();
  std::unique_lock lock(mutex_);
  batch_done_.wait(lock, [&] { return oldest->done; });
  return std::move(oldest->data);
}

std::string DeflatePool::Compress(const std::string& data, int level) {
  Deflater deflater(level);
  return deflater.Compress(data);
}

void DeflatePool::Work() {
  Deflater deflater(level_);
  for (;;) {
    std::shared_ptr<Batch> batch;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    for (std::string& data : batch->data) data = deflater.Compress(data);
    {
      std::lock_guard lock(mutex_);
      batch->done = true;
    }
    batch_done_.notify_all();
  }
}

}  // namespace pageout::converter
