wayfold_fuzz_target(NAME fuzz_registry_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/logging_registry_file.cpp LIBS compat)
wayfold_fuzz_target(NAME fuzz_logging_template SOURCES ${CMAKE_CURRENT_LIST_DIR}/logging_template.cpp
                    LIBS scriblet_internals)
