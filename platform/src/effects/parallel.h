// Splits a frame's rows across the cores. The workers are made once and reused, so a frame
// costs no thread creation and no allocation.
#pragma once

namespace vt::effects {

using RowsFn = void (*)(void* context, int rowBegin, int rowEnd);
using BandsFn = void (*)(void* context, int rowBegin, int rowEnd, int band);

// Bands are numbered below kMaxBands, so a caller can keep per-band scratch in its own
// buffers (a worker's thread_local would be allocated on the worker's first band).
constexpr int kMaxBands = 64;

// Runs fn over [0, rows) in bands, on the calling thread and the pool's workers; returns when
// every band is done. Small jobs, and calls made while the pool is busy with another caller,
// run on the calling thread alone.
void runRows(int rows, long pixelsPerRow, RowsFn fn, void* context);
void runBands(int rows, long pixelsPerRow, BandsFn fn, void* context);

// As parallelRows, with the band number (0 <= band < kMaxBands) as a third argument.
template <class F>
void parallelBands(int rows, long pixelsPerRow, const F& f) {
  runBands(
      rows, pixelsPerRow,
      [](void* c, int b, int e, int band) { (*static_cast<const F*>(c))(b, e, band); },
      const_cast<F*>(&f));
}

// Limits the threads used (1 = the calling thread only; 0 = all cores). For tests that
// compare banded and unbanded results.
void setMaxThreads(int n);

template <class F>
void parallelRows(int rows, long pixelsPerRow, const F& f) {
  runRows(
      rows, pixelsPerRow, [](void* c, int b, int e) { (*static_cast<const F*>(c))(b, e); },
      const_cast<F*>(&f));
}

}  // namespace vt::effects
