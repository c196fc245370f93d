#pragma once

// How a reader's entry from memory reads its bytes: viewed in place, as a
// mapped file is, or cut into pieces as a pipe delivers them, with the size
// known in advance or not. The tests and the fuzz targets read one file
// every way, which must not change the outcome.

#include <cstddef>

#include "mesh/input/block_reader.h"
#include "mesh/input/record_runs.h"

struct memory_reading {
    std::size_t piece = 0;  // 0: viewed in place; else read this many bytes at a time
    bool size_known = true;
    std::size_t block = block_reader::default_block;
    run_tuning runs;
};
