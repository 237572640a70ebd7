// Memory manager: handles through a master-pointer table, pointer blocks that never move.
#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/boundary.h"

namespace {

constexpr uint32_t kBlockMagic = 0x56544D42;  // 'VTMB'
constexpr uint32_t kSlotLive = 0x56544853;    // 'VTHS'
constexpr uint32_t kSlotFree = 0x66726565;

struct alignas(16) BlockHeader {
  uint32_t magic;
  uint32_t isHandle;
  Size size;
  Size capacity;
  uint64_t pad;
};
static_assert(sizeof(BlockHeader) % 16 == 0);

// A master pointer slot. `p` must stay first: a Handle is the address of `p`.
struct MasterSlot {
  Ptr p;
  uint32_t magic;
  uint8_t state;  // kHandleLockedMask and friends
  MasterSlot* nextFree;
};

constexpr size_t kSlotsPerChunk = 1024;

struct Heap {
  std::mutex lock;
  std::vector<MasterSlot*> chunks;  // never freed: handles stay recognisable after disposal
  MasterSlot* freeSlots = nullptr;
  long liveHandles = 0;
  long livePtrs = 0;
};

Heap& heap() {
  static Heap* h = new Heap;  // never destroyed: handles may be released from static destructors
  return *h;
}

thread_local OSErr gMemError = noErr;
void recordMemError(OSErr err) noexcept { gMemError = err; }

BlockHeader* headerOf(Ptr p) { return reinterpret_cast<BlockHeader*>(p) - 1; }

Ptr allocBlock(Size size, Size capacity, bool clear, bool isHandle) {
  if (size < 0 || capacity < size) return nullptr;
  size_t total = sizeof(BlockHeader) + (size_t)capacity;
  void* raw = clear ? std::calloc(1, total) : std::malloc(total);
  if (!raw) return nullptr;
  auto* hdr = static_cast<BlockHeader*>(raw);
  hdr->magic = kBlockMagic;
  hdr->isHandle = isHandle ? 1 : 0;
  hdr->size = size;
  hdr->capacity = capacity;
  return reinterpret_cast<Ptr>(hdr + 1);
}

void freeBlock(Ptr p) {
  if (!p) return;
  BlockHeader* hdr = headerOf(p);
  hdr->magic = 0;
  std::free(hdr);
}

// Returns the slot of a live handle, or null. Only addresses inside our chunks are accepted.
MasterSlot* slotOf(Handle h) {
  if (!h) return nullptr;
  auto addr = reinterpret_cast<uintptr_t>(h);
  const auto& chunks = heap().chunks;  // sorted by address
  auto it = std::upper_bound(chunks.begin(), chunks.end(), addr, [](uintptr_t a, MasterSlot* c) {
    return a < reinterpret_cast<uintptr_t>(c);
  });
  if (it == chunks.begin()) return nullptr;
  MasterSlot* chunk = *(it - 1);
  auto lo = reinterpret_cast<uintptr_t>(chunk);
  auto hi = reinterpret_cast<uintptr_t>(chunk + kSlotsPerChunk);
  if (addr >= hi || (addr - lo) % sizeof(MasterSlot) != 0) return nullptr;
  auto* s = reinterpret_cast<MasterSlot*>(addr);
  return s->magic == kSlotLive ? s : nullptr;
}

MasterSlot* takeSlot() {
  Heap& hp = heap();
  if (!hp.freeSlots) {
    auto* chunk = static_cast<MasterSlot*>(std::calloc(kSlotsPerChunk, sizeof(MasterSlot)));
    if (!chunk) return nullptr;
    for (size_t i = 0; i < kSlotsPerChunk; ++i) {
      chunk[i].magic = kSlotFree;
      chunk[i].nextFree = (i + 1 < kSlotsPerChunk) ? &chunk[i + 1] : nullptr;
    }
    hp.chunks.insert(std::upper_bound(hp.chunks.begin(), hp.chunks.end(), chunk), chunk);
    hp.freeSlots = chunk;
  }
  MasterSlot* s = hp.freeSlots;
  hp.freeSlots = s->nextFree;
  s->nextFree = nullptr;
  s->magic = kSlotLive;
  s->state = 0;
  s->p = nullptr;
  return s;
}

Handle newHandle(Size size, bool clear) {
  if (size < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  std::lock_guard<std::mutex> g(heap().lock);
  Ptr block = allocBlock(size, size, clear, true);
  if (!block) {
    gMemError = memFullErr;
    return nullptr;
  }
  MasterSlot* s = takeSlot();
  if (!s) {
    freeBlock(block);
    gMemError = memFullErr;
    return nullptr;
  }
  s->p = block;
  heap().liveHandles++;
  gMemError = noErr;
  return &s->p;
}

// Room kept behind a pointer block so SetPtrSize can grow it in place.
Size ptrReserve(Size size) {
  Size extra = size < (1 << 20) ? size : (1 << 20);
  return size + extra + 64;
}

Ptr newPtr(Size size, bool clear) {
  if (size < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  Ptr p = allocBlock(size, ptrReserve(size), clear, false);
  gMemError = p ? (OSErr)noErr : (OSErr)memFullErr;
  if (p) {
    std::lock_guard<std::mutex> g(heap().lock);
    heap().livePtrs++;
  }
  return p;
}

// A call on a live handle, under the heap lock: a nil or dead handle records its code and gives
// `fallback`; otherwise MemError is cleared and `body` runs on the handle's slot.
template <class R, class Body>
R withSlot(Handle h, R fallback, Body&& body) noexcept {
  return vt::apiCall<R>(recordMemError, fallback, [&]() -> R {
    std::lock_guard<std::mutex> g(heap().lock);
    MasterSlot* s = slotOf(h);
    if (!s) {
      gMemError = h ? memWZErr : nilHandleErr;
      return fallback;
    }
    gMemError = noErr;
    return body(*s);
  });
}
template <class Body>
void withSlot(Handle h, Body&& body) noexcept {
  withSlot<bool>(h, false, [&](MasterSlot& s) {
    body(s);
    return true;
  });
}

}  // namespace

Handle NewHandle(Size byteCount) {
  return vt::apiCall<Handle>(recordMemError, {},
                             [&]() -> Handle { return newHandle(byteCount, false); });
}
Handle NewHandleClear(Size byteCount) {
  return vt::apiCall<Handle>(recordMemError, {},
                             [&]() -> Handle { return newHandle(byteCount, true); });
}

Handle NewEmptyHandle() {
  return vt::apiCall<Handle>(recordMemError, {}, [&]() -> Handle {
    std::lock_guard<std::mutex> g(heap().lock);
    MasterSlot* s = takeSlot();
    if (!s) {
      gMemError = memFullErr;
      return nullptr;
    }
    heap().liveHandles++;
    gMemError = noErr;
    return &s->p;
  });
}

void DisposeHandle(Handle h) {
  vt::apiCall(recordMemError, [&] {
    if (!h) {
      gMemError = nilHandleErr;
      return;
    }
    std::lock_guard<std::mutex> g(heap().lock);
    MasterSlot* s = slotOf(h);
    if (!s) {
      gMemError = memWZErr;
      return;
    }
    freeBlock(s->p);
    s->p = nullptr;
    s->magic = kSlotFree;
    s->state = 0;
    s->nextFree = heap().freeSlots;
    heap().freeSlots = s;
    heap().liveHandles--;
    gMemError = noErr;
  });
}

Size GetHandleSize(Handle h) {
  return withSlot<Size>(h, 0, [](MasterSlot& s) { return s.p ? headerOf(s.p)->size : 0; });
}

void SetHandleSize(Handle h, Size newSize) {
  withSlot(h, [&](MasterSlot& s) {
    if (newSize < 0) {
      gMemError = paramErr;
      return;
    }
    if (!s.p) {
      Ptr block = allocBlock(newSize, newSize, false, true);
      if (!block) {
        gMemError = memFullErr;
        return;
      }
      s.p = block;
      gMemError = noErr;
      return;
    }
    BlockHeader* hdr = headerOf(s.p);
    if (newSize <= hdr->capacity) {
      hdr->size = newSize;
      gMemError = noErr;
      return;
    }
    if (s.state & kHandleLockedMask) {
      gMemError = memLockedErr;  // a locked block cannot move
      return;
    }
    // Grow geometrically so repeated appends stay linear overall.
    Size cap = hdr->capacity + hdr->capacity / 2;
    if (cap < newSize) cap = newSize;
    Ptr block = allocBlock(newSize, cap, false, true);
    if (!block) {
      gMemError = memFullErr;
      return;
    }
    std::memcpy(block, s.p, (size_t)hdr->size);
    freeBlock(s.p);
    s.p = block;
    gMemError = noErr;
  });
}

void HLock(Handle h) {
  withSlot(h, [&](MasterSlot& s) { s.state |= kHandleLockedMask; });
}

void HUnlock(Handle h) {
  withSlot(h, [&](MasterSlot& s) { s.state &= (uint8_t)~kHandleLockedMask; });
}

void HLockHi(Handle h) {
  vt::apiCall(recordMemError, [&] { HLock(h); });
}
void MoveHHi(Handle h) { gMemError = h ? (OSErr)noErr : (OSErr)nilHandleErr; }
void HNoPurge(Handle h) { gMemError = h ? (OSErr)noErr : (OSErr)nilHandleErr; }

SInt8 HGetState(Handle h) {
  return withSlot<SInt8>(h, 0, [](MasterSlot& s) { return (SInt8)s.state; });
}

void HSetState(Handle h, SInt8 flags) {
  withSlot(h, [&](MasterSlot& s) { s.state = (uint8_t)flags; });
}

OSErr HandToHand(Handle* theHndl) {
  return vt::apiStatus([&]() -> OSErr {
    if (!theHndl || !*theHndl) return gMemError = nilHandleErr;
    Handle src = *theHndl;
    Size n = GetHandleSize(src);
    if (gMemError) return gMemError;
    Handle dst = NewHandle(n);
    if (!dst) return gMemError;
    if (n) std::memcpy(*dst, *src, (size_t)n);
    *theHndl = dst;
    return gMemError = noErr;
  });
}

OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size) {
  return vt::apiStatus([&]() -> OSErr {
    if (!dstHndl || size < 0 || (size > 0 && !srcPtr)) return gMemError = paramErr;
    Handle h = NewHandle(size);
    if (!h) return gMemError;
    if (size) std::memcpy(*h, srcPtr, (size_t)size);
    *dstHndl = h;
    return gMemError = noErr;
  });
}

OSErr PtrToXHand(const void* srcPtr, Handle dstHndl, long size) {
  return vt::apiStatus([&]() -> OSErr {
    if (size < 0 || (size > 0 && !srcPtr)) return gMemError = paramErr;
    SetHandleSize(dstHndl, size);
    if (gMemError) return gMemError;
    if (size) std::memmove(*dstHndl, srcPtr, (size_t)size);
    return gMemError = noErr;
  });
}

OSErr PtrAndHand(const void* ptr1, Handle hand2, long size) {
  return vt::apiStatus([&]() -> OSErr {
    if (size < 0 || (size > 0 && !ptr1)) return gMemError = paramErr;
    Size old = GetHandleSize(hand2);
    if (gMemError) return gMemError;
    SetHandleSize(hand2, old + size);
    if (gMemError) return gMemError;
    if (size) std::memmove(*hand2 + old, ptr1, (size_t)size);
    return gMemError = noErr;
  });
}

OSErr HandAndHand(Handle hand1, Handle hand2) {
  return vt::apiStatus([&]() -> OSErr {
    Size n = GetHandleSize(hand1);
    if (gMemError) return gMemError;
    // Copy first: hand1 may be hand2, and growing hand2 may move its block.
    std::vector<char> tmp(*hand1 ? *hand1 : nullptr, *hand1 ? *hand1 + n : nullptr);
    return PtrAndHand(tmp.data(), hand2, n);
  });
}

long Munger(Handle h, long offset, const void* ptr1, long len1, const void* ptr2, long len2) {
  return vt::apiCall<long>(recordMemError, {}, [&]() -> long {
    Size size = GetHandleSize(h);
    if (gMemError || offset < 0 || offset > size) return -1;
    if (ptr1) {
      // Find ptr1 at or after offset.
      const char* base = *h;
      long found = -1;
      for (long i = offset; len1 >= 0 && i + len1 <= size; ++i) {
        if (std::memcmp(base + i, ptr1, (size_t)len1) == 0) {
          found = i;
          break;
        }
      }
      if (found < 0) return -1;
      offset = found;
    } else if (len1 < 0 || offset + len1 > size) {
      len1 = size - offset;
    }
    if (!ptr2) return offset;
    std::vector<char> tail(*h + offset + len1, *h + size);
    SetHandleSize(h, offset + len2 + (long)tail.size());
    if (gMemError) return -1;
    if (len2) std::memmove(*h + offset, ptr2, (size_t)len2);
    if (!tail.empty()) std::memcpy(*h + offset + len2, tail.data(), tail.size());
    return offset + len2;
  });
}

Ptr NewPtr(Size byteCount) {
  return vt::apiCall<Ptr>(recordMemError, {}, [&] { return newPtr(byteCount, false); });
}
Ptr NewPtrClear(Size byteCount) {
  return vt::apiCall<Ptr>(recordMemError, {}, [&] { return newPtr(byteCount, true); });
}

void DisposePtr(Ptr p) {
  vt::apiCall(recordMemError, [&] {
    if (!p) {
      gMemError = noErr;
      return;
    }
    BlockHeader* hdr = headerOf(p);
    if (hdr->magic != kBlockMagic || hdr->isHandle) {
      gMemError = memWZErr;
      return;
    }
    freeBlock(p);
    std::lock_guard<std::mutex> g(heap().lock);
    heap().livePtrs--;
    gMemError = noErr;
  });
}

Size GetPtrSize(Ptr p) {
  return vt::apiCall<Size>(recordMemError, {}, [&]() -> Size {
    if (!p) {
      gMemError = nilHandleErr;
      return 0;
    }
    BlockHeader* hdr = headerOf(p);
    if (hdr->magic != kBlockMagic || hdr->isHandle) {
      gMemError = memWZErr;
      return 0;
    }
    gMemError = noErr;
    return hdr->size;
  });
}

void SetPtrSize(Ptr p, Size newSize) {
  vt::apiCall(recordMemError, [&] {
    if (!p) {
      gMemError = nilHandleErr;
      return;
    }
    BlockHeader* hdr = headerOf(p);
    if (hdr->magic != kBlockMagic || hdr->isHandle || newSize < 0) {
      gMemError = newSize < 0 ? paramErr : memWZErr;
      return;
    }
    if (newSize > hdr->capacity) {
      gMemError = memFullErr;  // a pointer block cannot move, and its reserve is used up
      return;
    }
    if (newSize > hdr->size) std::memset(p + hdr->size, 0, (size_t)(newSize - hdr->size));
    hdr->size = newSize;
    gMemError = noErr;
  });
}

OSErr MemError() { return gMemError; }

void BlockMove(const void* srcPtr, void* destPtr, Size byteCount) {
  vt::apiCall(recordMemError, [&] {
    if (byteCount > 0 && srcPtr && destPtr) std::memmove(destPtr, srcPtr, (size_t)byteCount);
  });
}

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount) {
  vt::apiCall(recordMemError, [&] { BlockMove(srcPtr, destPtr, byteCount); });
}

void BlockZero(void* destPtr, Size byteCount) {
  vt::apiCall(recordMemError, [&] {
    if (byteCount > 0 && destPtr) std::memset(destPtr, 0, (size_t)byteCount);
  });
}

Boolean VTIsValidHandle(Handle h) {
  return vt::apiCall<Boolean>(recordMemError, {}, [&]() -> Boolean {
    std::lock_guard<std::mutex> g(heap().lock);
    return slotOf(h) != nullptr;
  });
}

long VTLiveHandleCount() {
  return vt::apiCall<long>(recordMemError, {}, [&]() -> long {
    std::lock_guard<std::mutex> g(heap().lock);
    return heap().liveHandles;
  });
}

long VTLivePtrCount() {
  return vt::apiCall<long>(recordMemError, {}, [&]() -> long {
    std::lock_guard<std::mutex> g(heap().lock);
    return heap().livePtrs;
  });
}
