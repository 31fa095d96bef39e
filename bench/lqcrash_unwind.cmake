morvalent_benchmark(bench_lqcrash_unwind
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lqcrash_unwind_bench.cpp
  DEPS lqcrashreporter)
# The frames it walks are its own: keep their records as the engine's tests do.
if(TARGET bench_lqcrash_unwind)
  target_compile_options(bench_lqcrash_unwind PRIVATE -fno-omit-frame-pointer)
endif()
