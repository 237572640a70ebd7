// Steady-state playback must not allocate: a frame drawn again (the same sample at a new time,
// same sizes) makes no heap allocation, on any thread. Counts every operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "effects_test_util.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace vt::effects;
using namespace et;

TEST(Allocation, RepeatedFramesAllocateNothing) {
  const int w = 640, h = 360;  // large enough to be split across threads
  const Image a = gradientPicture(w, h, 0), small = gradientPicture(w / 2, h / 2, 50);
  for (const auto* entry : builtIns()) {
    const auto& e = *entry;
    auto bytes = buildDescription(e.code, e.sources, {});
    const EffectInputs in{&a, &small};  // B is scaled every frame
    Image out(w, h);
    // Warm up: scratch buffers, pattern fields and the parsed description are made here.
    renderEffectSample(bytes.data(), bytes.size(), 10, 100, in, out);
    renderEffectSample(bytes.data(), bytes.size(), 20, 100, in, out);
    long before = allocations.load();
    for (int t = 30; t <= 90; t += 30)
      renderEffectSample(bytes.data(), bytes.size(), t, 100, in, out);
    EXPECT_EQ(allocations.load() - before, 0) << e.name;
  }
}
