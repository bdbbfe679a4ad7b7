// Huge-page regions and their pool. A region is mapped a huge page larger
// than asked and trimmed to an aligned part, since mmap aligns only to 4 kB
// and a huge page can only back an aligned 2 MB.
#include "platform/automation/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace velnor::automation {
namespace {

size_t RoundUp(size_t bytes, size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

}  // namespace

HugePageRegion::HugePageRegion(size_t bytes)
    : size_(RoundUp(bytes == 0 ? 1 : bytes, kHugePageBytes)) {
  const size_t mapped = size_ + kHugePageBytes;
  void* at = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(at);
  const uintptr_t aligned = RoundUp(start, kHugePageBytes);
  if (aligned > start) munmap(at, aligned - start);
  const uintptr_t end = start + mapped;
  if (end > aligned + size_) {
    munmap(reinterpret_cast<void*>(aligned + size_), end - aligned - size_);
  }
  data_ = reinterpret_cast<char*>(aligned);
  // The first huge page stays on 4 kB pages: a region a small run uses
  // only the start of (the ring of a small file, a small cache) then costs
  // a few faults, where a huge page costs zeroing 2 MB at its first touch,
  // and more where the kernel must first compact memory to find one.
  // Without huge pages in the kernel the advice fails: 4 kB pages serve.
  madvise(data_, kHugePageBytes, MADV_NOHUGEPAGE);
  if (size_ > kHugePageBytes) {
    madvise(data_ + kHugePageBytes, size_ - kHugePageBytes, MADV_HUGEPAGE);
  }
}

HugePageRegion::~HugePageRegion() { munmap(data_, size_); }

HugePagePool::Lease& HugePagePool::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    GiveBack();
    pool_ = other.pool_;
    region_ = std::move(other.region_);
  }
  return *this;
}

HugePagePool::Lease::~Lease() { GiveBack(); }

void HugePagePool::Lease::GiveBack() {
  if (region_ != nullptr) pool_->Keep(std::move(region_));
}

HugePagePool::HugePagePool(size_t region_bytes, size_t kept)
    : region_bytes_(region_bytes), kept_(kept) {
  // Room for every region kept, so that keeping one never allocates and a
  // lease ending in a destructor cannot raise.
  free_.reserve(kept);
}

HugePagePool::Lease HugePagePool::Take() {
  {
    std::lock_guard lock(mutex_);
    if (!free_.empty()) {
      std::unique_ptr<HugePageRegion> region = std::move(free_.back());
      free_.pop_back();
      return Lease(this, std::move(region));
    }
  }
  return Lease(this, std::make_unique<HugePageRegion>(region_bytes_));
}

size_t HugePagePool::KeptCount() const {
  std::lock_guard lock(mutex_);
  return free_.size();
}

void HugePagePool::Keep(std::unique_ptr<HugePageRegion> region) {
  {
    std::lock_guard lock(mutex_);
    if (free_.size() < kept_) {
      free_.push_back(std::move(region));
      return;
    }
  }
  region.reset();  // unmapped outside the lock
}

}  // namespace velnor::automation
