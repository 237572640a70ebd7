// The outermost guard of a command-line tool: running out of memory (or any other exception
// that got this far) ends the tool with status 1 and one line on standard error, never an
// abort that leaves a core and a half-written output behind.
#pragma once
#include <cstdio>
#include <exception>
#include <new>

template <class Run>
int guardedToolMain(const char* tool, Run&& run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: there is not enough memory\n", tool);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", tool, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: an unexpected failure\n", tool);
  }
  return 1;
}
