if(TARGET app_nowplaying)
  morvalent_benchmark(bench_artwork SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/artwork_bench.cpp DEPS app_nowplaying
    platform_image)
endif()
