wayfold_fuzz_target(NAME fuzz_utf8 SOURCES ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp LIBS qcl_core)
wayfold_fuzz_target(NAME fuzz_uint128 SOURCES ${CMAKE_CURRENT_LIST_DIR}/uint128.cpp LIBS qcl_core)
