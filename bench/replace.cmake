wayfold_benchmark(NAME replace_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/replace_bench.cpp LIBS sync)
