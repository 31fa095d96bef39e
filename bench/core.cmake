morvalent_benchmark(bench_core SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_bench.cpp
  DEPS app_model platform_concurrency platform_dispatch platform_foundation)
