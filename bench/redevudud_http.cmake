morvalent_benchmark(bench_redevudud_http
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/redevudud_http.cpp
  DEPS redevudud ingestion_sink)
