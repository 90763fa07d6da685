wayfold_fuzz_target(NAME fuzz_paths SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths.cpp LIBS qcl_core)
wayfold_fuzz_target(NAME fuzz_bookmarks SOURCES ${CMAKE_CURRENT_LIST_DIR}/bookmarks.cpp LIBS compat)
