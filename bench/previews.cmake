if(TARGET app_previews)
  morvalent_benchmark(bench_previews SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/previews_bench.cpp DEPS app_previews)
endif()
