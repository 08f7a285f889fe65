// The reading thread records what it reads into batches; the calling thread
// plays them back to its sink and returns them empty. A few batches in
// flight bound the memory whatever the file's size.
#include "platform/emulated/import/ReadAhead.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::platform::emulated {
namespace {

// A batch goes once it holds this many records or bytes of data.
constexpr std::size_t kBatchRecords = 4096;
constexpr std::size_t kBatchData = 1 << 20;
constexpr std::size_t kBatches = 4;

struct Record {
  enum class Kind : std::uint8_t { kKey, kDeleteKey, kValue, kDeleteValue };
  Kind kind;
  std::uint32_t type;
  std::size_t text, textLength;  // the path or name, in Batch::text
  std::size_t data, dataLength;  // in Batch::data
};

struct Batch {
  std::vector<Record> records;
  std::u16string text;
  std::vector<std::uint8_t> data;
};

// Full batches one way, empty ones back.
class Channel {
 public:
  Channel() {
    for (std::size_t i = 0; i < kBatches; ++i) {
      empty_.push_back(std::make_unique<Batch>());
    }
  }

  // No reading thread: the reader records everything before the first
  // batch is played.
  void Unbound() { unbound_ = true; }

  std::unique_ptr<Batch> TakeEmpty() {
    std::unique_lock lock(mutex_);
    if (unbound_ && empty_.empty()) return std::make_unique<Batch>();
    changed_.wait(lock, [this] { return !empty_.empty(); });
    std::unique_ptr<Batch> batch = std::move(empty_.back());
    empty_.pop_back();
    return batch;
  }
  void Send(std::unique_ptr<Batch> batch) {
    std::lock_guard lock(mutex_);
    full_.push_back(std::move(batch));
    changed_.notify_all();
  }
  void Finish(std::string fault) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(fault);
    done_ = true;
    changed_.notify_all();
  }

  // The next full batch; nullptr once the reader finished and all came.
  std::unique_ptr<Batch> Receive() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !full_.empty() || done_; });
    if (full_.empty()) return nullptr;
    std::unique_ptr<Batch> batch = std::move(full_.front());
    full_.pop_front();
    return batch;
  }
  void Return(std::unique_ptr<Batch> batch) {
    batch->records.clear();
    batch->text.clear();
    batch->data.clear();
    std::lock_guard lock(mutex_);
    empty_.push_back(std::move(batch));
    changed_.notify_all();
  }
  std::string Fault() {
    std::lock_guard lock(mutex_);
    return fault_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> full_;
  std::vector<std::unique_ptr<Batch>> empty_;
  std::string fault_;
  bool done_ = false;
  bool unbound_ = false;
};

class Recorder : public regfile::RegSink {
 public:
  explicit Recorder(Channel& channel) : channel_(channel) {}

  std::string OnKey(std::u16string_view path) override {
    return Add(Record::Kind::kKey, path);
  }
  std::string OnDeleteKey(std::u16string_view path) override {
    return Add(Record::Kind::kDeleteKey, path);
  }
  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    return Add(Record::Kind::kValue, name, type, data);
  }
  std::string OnDeleteValue(std::u16string_view name) override {
    return Add(Record::Kind::kDeleteValue, name);
  }

  void Flush() {
    if (batch_ != nullptr) channel_.Send(std::move(batch_));
  }

 private:
  std::string Add(Record::Kind kind, std::u16string_view text,
                  std::uint32_t type = 0,
                  std::span<const std::uint8_t> data = {}) {
    if (batch_ == nullptr) batch_ = channel_.TakeEmpty();
    Batch& batch = *batch_;
    batch.records.push_back({kind, type, batch.text.size(), text.size(),
                             batch.data.size(), data.size()});
    batch.text.append(text);
    batch.data.insert(batch.data.end(), data.begin(), data.end());
    if (batch.records.size() >= kBatchRecords ||
        batch.data.size() >= kBatchData) {
      channel_.Send(std::move(batch_));
    }
    return {};
  }

  Channel& channel_;
  std::unique_ptr<Batch> batch_;
};

std::string Play(const Batch& batch, regfile::RegSink& sink) {
  for (const Record& record : batch.records) {
    const std::u16string_view text =
        std::u16string_view(batch.text).substr(record.text, record.textLength);
    std::string err;
    switch (record.kind) {
      case Record::Kind::kKey:
        err = sink.OnKey(text);
        break;
      case Record::Kind::kDeleteKey:
        err = sink.OnDeleteKey(text);
        break;
      case Record::Kind::kValue:
        err = sink.OnValue(
            text, record.type,
            std::span(batch.data).subspan(record.data, record.dataLength));
        break;
      case Record::Kind::kDeleteValue:
        err = sink.OnDeleteValue(text);
        break;
    }
    if (!err.empty()) return err;
  }
  return {};
}

}  // namespace

std::string ReadRegFileAhead(std::span<const std::uint8_t> bytes,
                             std::string_view fileName, regfile::RegSink& sink,
                             regfile::HexStrings strings) {
  Channel channel;
  const auto read = [&] {
    Recorder recorder(channel);
    regfile::CheckingSink checking(recorder);
    std::string fault =
        regfile::ReadRegFile(bytes, fileName, checking, strings);
    recorder.Flush();
    channel.Finish(std::move(fault));
  };
  std::thread reader;
  try {
    reader = std::thread(read);
  } catch (const std::system_error&) {
    // No thread to be had: the whole file is read first, then played.
    channel.Unbound();
    read();
  }
  // After a refusal the rest is still read, not played: a fault further on
  // is what the caller hears of, as if the file had been checked first.
  std::string refusal;
  try {
    while (std::unique_ptr<Batch> batch = channel.Receive()) {
      if (refusal.empty()) refusal = Play(*batch, sink);
      channel.Return(std::move(batch));
    }
  } catch (...) {
    while (std::unique_ptr<Batch> batch = channel.Receive()) {
      channel.Return(std::move(batch));
    }
    if (reader.joinable()) reader.join();
    throw;
  }
  if (reader.joinable()) reader.join();
  std::string fault = channel.Fault();
  return fault.empty() ? refusal : fault;
}

}  // namespace corvane::platform::emulated
