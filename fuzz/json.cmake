wayfold_fuzz_target(NAME fuzz_json_parse SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_parse.cpp LIBS json_spirit_core)
wayfold_fuzz_target(NAME fuzz_json_member_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_read_file.cpp LIBS json_spirit_core)
