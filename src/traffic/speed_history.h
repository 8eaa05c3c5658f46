#pragma once
// Fixed-capacity history of 32-bit speeds, newest first. Pushing at the front
// is O(1) and never allocates (the storage is reserved once), which keeps the
// sampling tick allocation-free; the graph reads it by index, 0 = newest.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::traffic {

class SpeedHistory {
 public:
  // Holds at most `limit` entries; a push beyond that drops the oldest.
  explicit SpeedHistory(std::size_t limit) : slots_(limit) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t limit() const { return slots_.size(); }
  void clear() { size_ = 0; }

  void push_front(std::uint32_t v) {
    if (slots_.empty()) return;
    head_ = head_ == 0 ? slots_.size() - 1 : head_ - 1;
    slots_[head_] = v;
    if (size_ < slots_.size()) ++size_;
  }

  // i = 0 is the newest entry; i < size().
  std::uint32_t operator[](std::size_t i) const {
    std::size_t p = head_ + i;
    if (p >= slots_.size()) p -= slots_.size();
    return slots_[p];
  }

  // The largest of the newest min(size(), n) entries; 0 when there are none.
  std::uint32_t max_of_newest(std::size_t n) const {
    if (n > size_) n = size_;
    const std::size_t first = slots_.size() - head_;  // entries before the wrap
    std::uint32_t m = 0;
    for (std::size_t i = 0; i < n && i < first; ++i) m = slots_[head_ + i] > m ? slots_[head_ + i] : m;
    for (std::size_t i = first; i < n; ++i) m = slots_[i - first] > m ? slots_[i - first] : m;
    return m;
  }

  // Copies the newest min(size(), max_entries) entries, newest first, into
  // `out` (resized; its capacity is reused).
  void copy_to(std::vector<std::uint32_t>& out, std::size_t max_entries) const {
    const std::size_t n = size_ < max_entries ? size_ : max_entries;
    out.resize(n);
    const std::size_t first = slots_.size() - head_;  // entries before the wrap
    if (n <= first) {
      for (std::size_t i = 0; i < n; ++i) out[i] = slots_[head_ + i];
    } else {
      for (std::size_t i = 0; i < first; ++i) out[i] = slots_[head_ + i];
      for (std::size_t i = first; i < n; ++i) out[i] = slots_[i - first];
    }
  }

 private:
  std::vector<std::uint32_t> slots_;
  std::size_t head_ = 0;  // slot of the newest entry
  std::size_t size_ = 0;
};

}  // namespace tw::traffic
