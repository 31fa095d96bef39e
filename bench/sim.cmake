# The simulated desktop and the Accessibility model over it.
morvalent_benchmark(bench_sim SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sim_bench.cpp
  DEPS app_model platform_sim platform_accessibility platform_dispatch platform_concurrency)
