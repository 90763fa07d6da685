wayfold_benchmark(NAME engine_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp LIBS sync wayfold_fake_server)
