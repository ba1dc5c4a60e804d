#include "vxcomm/platform/serialwriter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <utility>

#include <asm/termbits.h>
#include <linux/serial.h>

namespace vxcomm {

namespace {
// Milliseconds from now until Deadline, at least 0, for poll.
int MsUntil(std::chrono::steady_clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                  std::chrono::steady_clock::now())
                .count();
  return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, 1 << 30));
}
}  // namespace

TvxTtyWriter::TvxTtyWriter(int fd, std::function<void()> wake)
    : fd_(fd), wake_(std::move(wake)), poke_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  thread_ = std::thread([this] { Loop(); });
}

TvxTtyWriter::~TvxTtyWriter() {
  Stop();
  if (poke_ >= 0) ::close(poke_);
}

void TvxTtyWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    work_.notify_all();
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(poke_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

int TvxTtyWriter::Write(const void* buffer, std::uint32_t len, bool wait, const TCOMMTIMEOUTS& t) {
  if (len == 0) return 0;
  const std::uint64_t total =
      std::uint64_t(t.WriteTotalTimeoutMultiplier) * len + t.WriteTotalTimeoutConstant;
  std::unique_lock lock(mutex_);
  if (stopped_) return EBADF;
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t written = 0;
  if (queue_.empty()) {
    ssize_t n = ::write(fd_, bytes, len);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    if (n > 0) written = static_cast<std::size_t>(n);
  }
  // The thread watches the drain only for EV_TXEMPTY: waking it for every write would cost
  // a thread switch per packet.
  if (watch_drain_) {
    drain_pending_ = true;
    work_.notify_one();
  }
  if (written == len) return 0;
  Segment segment;
  segment.data.assign(bytes + written, len - written);
  segment.timed = total != 0;
  segment.deadline = Clock::now() + std::chrono::milliseconds(total);
  if (wait) segment.result = std::make_shared<Result>();
  std::shared_ptr<Result> result = segment.result;
  queued_bytes_ += segment.data.size();
  queue_.push_back(std::move(segment));
  work_.notify_one();
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(poke_, &one, sizeof one);
  if (!wait) return 0;
  done_.wait(lock, [&] { return result->done; });
  return result->error;
}

void TvxTtyWriter::FinishLocked(Segment& segment, int error) {
  queued_bytes_ -= segment.data.size() - segment.offset;
  if (segment.result) {
    segment.result->done = true;
    segment.result->error = error;
    done_.notify_all();
  } else if (error && error != ECANCELED) {
    if (!lost_) lost_error_ = error;
    lost_ = true;
    wake_();
  }
}

void TvxTtyWriter::Purge() {
  std::lock_guard lock(mutex_);
  for (Segment& s : queue_) FinishLocked(s, ECANCELED);
  queue_.clear();
  ioctl(fd_, TCFLSH, TCOFLUSH);
}

std::uint32_t TvxTtyWriter::QueuedBytes() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(queued_bytes_);
}

void TvxTtyWriter::WatchDrain(bool on) {
  std::lock_guard lock(mutex_);
  watch_drain_ = on;
  if (!on) drain_pending_ = false;
  work_.notify_one();
}

bool TvxTtyWriter::TakeDrained() {
  std::lock_guard lock(mutex_);
  return std::exchange(drained_, false);
}

std::uint32_t TvxTtyWriter::TakeErrors(int* lostError) {
  std::lock_guard lock(mutex_);
  const int error = std::exchange(lost_error_, 0);
  if (!std::exchange(lost_, false)) return 0;
  if (lostError) *lostError = error;
  return CE_TXFULL;
}

bool TvxTtyWriter::TransmitterEmpty() const {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) return false;
  // The shift register, where the driver tells: RS-485 must not drop RTS under the last byte.
  unsigned lsr = 0;
  if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0) return lsr & TIOCSER_TEMT;
  return true;
}

void TvxTtyWriter::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopped_) {
    if (queue_.empty()) {
      if (!drain_pending_ || !watch_drain_) {
        work_.wait(lock);
        continue;
      }
      lock.unlock();
      const bool empty = TransmitterEmpty();
      lock.lock();
      if (empty && queue_.empty() && drain_pending_) {
        drain_pending_ = false;
        drained_ = true;
        wake_();
      } else if (!empty) {
        // The kernel tells of no drain: it is looked for while bytes are on their way.
        work_.wait_for(lock, std::chrono::milliseconds(1));
      }
      continue;
    }
    Segment& front = queue_.front();
    ssize_t n = ::write(fd_, front.data.data() + front.offset, front.data.size() - front.offset);
    if (n > 0) {
      front.offset += static_cast<std::size_t>(n);
      queued_bytes_ -= static_cast<std::size_t>(n);
      if (front.offset == front.data.size()) {
        FinishLocked(front, 0);
        queue_.pop_front();
      }
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      const int error = errno;
      for (Segment& s : queue_) FinishLocked(s, error);
      queue_.clear();
      continue;
    }
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    bool expired = false;
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (it->timed && now >= it->deadline) {
        FinishLocked(*it, ETIMEDOUT);
        it = queue_.erase(it);
        expired = true;
        continue;
      }
      if (it->timed) next = std::min(next, it->deadline);
      ++it;
    }
    if (expired) continue;
    const int timeout = next == Clock::time_point::max() ? -1 : MsUntil(next);
    lock.unlock();
    struct pollfd p[2] = {{fd_, POLLOUT, 0}, {poke_, POLLIN, 0}};
    ::poll(p, 2, timeout);
    if (p[1].revents) {
      std::uint64_t value;
      [[maybe_unused]] ssize_t r = ::read(poke_, &value, sizeof value);
    }
    lock.lock();
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLOUT)) {
      for (Segment& s : queue_) FinishLocked(s, EIO);
      queue_.clear();
    }
  }
  for (Segment& s : queue_) FinishLocked(s, EBADF);
  queue_.clear();
}

}  // namespace vxcomm
