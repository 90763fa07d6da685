find_package(nlohmann_json REQUIRED)
wayfold_benchmark(NAME json_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_bench.cpp
                  LIBS json_spirit_core nlohmann_json::nlohmann_json)
