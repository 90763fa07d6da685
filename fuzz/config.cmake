wayfold_fuzz_target(NAME fuzz_server_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/server_list.cpp LIBS api)
wayfold_fuzz_target(NAME fuzz_configuration SOURCES ${CMAKE_CURRENT_LIST_DIR}/configuration.cpp LIBS app_core)
wayfold_fuzz_target(NAME fuzz_upgrade_info SOURCES ${CMAKE_CURRENT_LIST_DIR}/upgrade_info.cpp LIBS app_core)
