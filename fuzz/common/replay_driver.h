// The driver every fuzz target uses when the compiler has no libFuzzer (gcc): it replays the
// files (or every file of the folders) named on the command line, and with "--mutate N
// [--seed S]" runs N random mutations of the target's seeds, so each target is exercised in
// every build and its bounded run can be a test. Without --seed each run draws a new seed and
// prints it first. "--memory-limit-mb N" (given first) makes an input that takes more memory
// than that fail the run, as libFuzzer's own limit does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Provided by each target: well-formed inputs to mutate (may be empty when the target is only
// replayed).
std::vector<std::vector<uint8_t>> vtFuzzSeeds();

// The bytes of a file (none when it cannot be read).
std::vector<uint8_t> vtReadFile(const std::string& path);
