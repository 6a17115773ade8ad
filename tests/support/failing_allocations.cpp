#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> toSkip{0};
std::atomic<int> toFail{0};

}  // namespace

namespace failing_allocations {

void FailNext(int skip, int count) {
  toSkip.store(skip);
  toFail.store(count);
}

}  // namespace failing_allocations

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (toFail.load() > 0) {
    if (toSkip.load() > 0) {
      toSkip.fetch_sub(1);
    } else {
      toFail.fetch_sub(1);
      return nullptr;
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}
