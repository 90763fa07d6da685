wayfold_benchmark(NAME scanner_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/scanner_bench.cpp LIBS sync)
