morvalent_benchmark(bench_foundation
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/foundation_bench.cpp
  DEPS platform_foundation)
