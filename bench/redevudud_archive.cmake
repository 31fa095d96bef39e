morvalent_benchmark(bench_redevudud_archive
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/redevudud_archive.cpp
  DEPS redevudud)
