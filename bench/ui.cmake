morvalent_benchmark(bench_ui SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ui_bench.cpp DEPS platform_ui)
