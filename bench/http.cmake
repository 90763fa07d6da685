wayfold_benchmark(NAME http_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp LIBS api wayfold_fake_server)
