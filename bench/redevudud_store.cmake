morvalent_benchmark(bench_redevudud_store
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/redevudud_store_bench.cpp
  DEPS redevudud)
