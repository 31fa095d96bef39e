# Usage analytics: events from the tracking call to the log store.
morvalent_benchmark(bench_redevudud_analytics
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/redevudud_analytics.cpp
  DEPS redevudud_analytics redevudud)
