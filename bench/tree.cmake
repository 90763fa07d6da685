wayfold_benchmark(NAME tree_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/tree_bench.cpp LIBS sync)
