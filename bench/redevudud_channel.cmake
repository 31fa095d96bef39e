morvalent_benchmark(bench_redevudud_channel
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/redevudud_channel.cpp
  DEPS redevudud)
