morvalent_benchmark(bench_tincture
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tincture_bench.cpp
  DEPS tincture platform_image)
