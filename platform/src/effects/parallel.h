// Splits a frame's rows across the cores. The workers are made once and reused, so a frame
// costs no thread creation and no allocation.
#pragma once

namespace vt::effects {

using RowsFn = void (*)(void* context, int rowBegin, int rowEnd);

// Runs fn over [0, rows) in bands, on the calling thread and the pool's workers; returns when
// every band is done. Small jobs, and calls made while the pool is busy with another caller,
// run on the calling thread alone.
void runRows(int rows, long pixelsPerRow, RowsFn fn, void* context);

// Limits the threads used (1 = the calling thread only; 0 = all cores). For tests that
// compare banded and unbanded results.
void setMaxThreads(int n);

template <class F>
void parallelRows(int rows, long pixelsPerRow, const F& f) {
  runRows(rows, pixelsPerRow,
          [](void* c, int b, int e) { (*static_cast<const F*>(c))(b, e); },
          const_cast<F*>(&f));
}

}  // namespace vt::effects
