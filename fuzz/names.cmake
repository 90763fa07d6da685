wayfold_fuzz_target(NAME fuzz_names SOURCES ${CMAKE_CURRENT_LIST_DIR}/names.cpp LIBS qcl)
