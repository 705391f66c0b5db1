// Copies that run several at once where every request of the receiving file
// system is a round trip: each copy is the one CopyFile makes (a temporary
// file renamed over the name when complete), on a thread of its own, in
// folders that the caller's thread resolved beneath the confined roots and
// opened anew for it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

// Copies in flight on a network or FUSE file system, as many as its
// lookups (folder_walk_posix.cc).
constexpr int kRemoteCopies = 16;

class PosixCopyPool final : public CopyPool {
 public:
  PosixCopyPool(PosixFileSystem& fs, int threads) : fs_(fs) {
    // Signals stay with the calling thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
      for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Fewer threads than asked for, perhaps none (Capacity() tells).
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  ~PosixCopyPool() override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
      queue_.clear();  // never started: nothing to undo
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  size_t Capacity() const override { return threads_.size(); }
  size_t Running() const override { return running_; }

  ErrorCode Start(uint64_t tag, const std::string& from, const std::string& to,
                  const CopyOptions& options) override {
    auto job = std::make_unique<Job>();
    job->tag = tag;
    job->options = &options;
    if (const ErrorCode code = fs_.DetachCopyPlaces(from, to, job->places); code != 0) return code;
    job->places.no_replace_way = &no_replace_way_;
    job->change = std::make_unique<ChangeScope>(fs_, to);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(job));
    }
    ++running_;
    queued_.notify_one();
    return 0;
  }

  bool Collect(double seconds, uint64_t& tag, ErrorCode& result) override {
    std::unique_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (finished_.empty() && seconds > 0)
        done_.wait_for(lock, std::chrono::duration<double>(seconds),
                       [this] { return !finished_.empty(); });
      if (finished_.empty()) return false;
      job = std::move(finished_.front());
      finished_.pop_front();
    }
    --running_;
    tag = job->tag;
    result = job->result;
    return true;  // the job's end closes its folders and its change
  }

 private:
  struct Job {
    uint64_t tag = 0;
    CopyPlaces places;
    const CopyOptions* options = nullptr;
    std::unique_ptr<ChangeScope> change;
    ErrorCode result = 0;
    ~Job() {
      if (places.from_dir >= 0) close(places.from_dir);
      if (places.to_dir >= 0) close(places.to_dir);
    }
  };

  void Work() {
    for (;;) {
      std::unique_ptr<Job> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      job->result = fs_.CopyBetween(job->places, *job->options);
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_.push_back(std::move(job));
      }
      done_.notify_one();
    }
  }

  PosixFileSystem& fs_;
  std::mutex mutex_;
  std::condition_variable queued_;  // the threads wait on it
  std::condition_variable done_;    // Collect waits on it
  std::deque<std::unique_ptr<Job>> queue_;
  std::deque<std::unique_ptr<Job>> finished_;
  bool ending_ = false;
  std::atomic<int> no_replace_way_{0};  // see TakeFreeName
  size_t running_ = 0;                  // started and not collected (the caller's thread only)
  std::vector<std::thread> threads_;
};

}  // namespace

std::unique_ptr<CopyPool> PosixFileSystem::ParallelCopies(const std::string& folder) {
  const Call call(*this);
  int threads = options_.copy_threads;
  if (threads == 0) {
    Fd fd;
    if (OpenPath(Trimmed(folder), O_PATH | O_DIRECTORY, true, fd) != 0) return nullptr;
    threads = IsLocalFileSystem(fd.get()) ? 1 : kRemoteCopies;
  }
  if (threads <= 1) return nullptr;
  auto pool = std::make_unique<PosixCopyPool>(*this, threads);
  if (pool->Capacity() < 2) return nullptr;
  return pool;
}

ErrorCode PosixFileSystem::DetachCopyPlaces(const std::string& from, const std::string& to,
                                            CopyPlaces& places) {
  const Call call(*this);
  CachedFolder* from_folder = nullptr;
  CachedFolder* to_folder = nullptr;
  if (const ErrorCode code = ResolveParent(from, from_folder, places.from_name); code != 0)
    return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, places.to_name); code != 0) return code;
  // Both pointers stay good: the cache keeps the two folders used last.
  Fd from_dir(fcntl(from_folder->fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!from_dir.valid()) return errno;
  Fd to_dir(fcntl(to_folder->fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!to_dir.valid()) return errno;
  to_folder->listed = false;
  to_folder->names.clear();
  NoteWritten(*to_folder);
  const VolumeAbilities volume = AbilitiesOf(*to_folder);
  places.volume = [volume] { return volume; };
  places.from_dir = from_dir.Release();
  places.to_dir = to_dir.Release();
  return 0;
}

}  // namespace twinmere::posix
