// Like-matching: the library's matcher beside a precompiled ICU regular
// expression doing the same match.
#include <benchmark/benchmark.h>
