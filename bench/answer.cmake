# A plain program, not Google Benchmark: it reports peak memory, measured in child processes.
add_executable(answer_memory ${CMAKE_CURRENT_LIST_DIR}/answer_memory.cpp)
target_link_libraries(answer_memory PRIVATE api)
