morvalent_benchmark(bench_lqcrash SOURCES ${CMAKE_CURRENT_LIST_DIR}/lqcrash_bench.cpp
  DEPS lqcrashreporter platform_foundation)
# Frame records keep the deep threads walkable by the frame-pointer reader.
if(TARGET bench_lqcrash)
  target_compile_options(bench_lqcrash PRIVATE -fno-omit-frame-pointer)
endif()
