wayfold_fuzz_target(NAME fuzz_api_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/api_answers.cpp LIBS api)
