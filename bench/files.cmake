wayfold_benchmark(NAME files_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/files_bench.cpp LIBS qcl)
