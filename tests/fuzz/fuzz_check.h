// For the fuzz targets: a property that must hold for every input. A broken one aborts, so that
// the fuzzer keeps the input as a finding and a replay of it fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) \
    ((condition) ? void()      \
                 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))
