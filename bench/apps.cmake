# The applications and their windows: collecting across Spaces, summaries with thumbnails.
morvalent_benchmark(bench_apps SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/apps_bench.cpp
  DEPS app_model platform_sim platform_accessibility platform_windowserver platform_appkit platform_dispatch
       platform_concurrency)
