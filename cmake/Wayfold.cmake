# Helpers shared by every folder's CMakeLists.txt.

# cmake --install makes every folder 0755 and installs files 0644, programs and libraries 0755, whatever the
# umask: nothing installed may be writable by anyone but its owner.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(WAYFOLD_FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(WAYFOLD_PROGRAM_PERMISSIONS ${WAYFOLD_FILE_PERMISSIONS} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# wayfold_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest program, registered with CTest as one test.
function(wayfold_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # Shipped files are found from here: __FILE__ may be relative to wherever a compiler cache ran the compiler.
  target_compile_definitions(${T_NAME} PRIVATE WAYFOLD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

# wayfold_fuzz_target(NAME <name> SOURCES <files...> LIBS <targets...>)
function(wayfold_fuzz_target)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  add_dependencies(fuzzers ${F_NAME})
endfunction()

# wayfold_benchmark(NAME <name> SOURCES <files...> LIBS <targets...>)
function(wayfold_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# wayfold_test_each(PREFIX <prefix> LIBS <targets...> [TIMEOUT <s>])
# One test program per *_test.cpp in the calling folder, named <prefix>_<stem>; every .cpp of the folder that does
# not end in _test.cpp is a shared helper linked into each of them.
function(wayfold_test_each)
  cmake_parse_arguments(E "" "PREFIX;TIMEOUT" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(helpers ${all})
  if(tests)
    list(REMOVE_ITEM helpers ${tests})
  endif()
  foreach(t ${tests})
    get_filename_component(stem ${t} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    wayfold_test(NAME ${E_PREFIX}_${stem} SOURCES ${t} ${helpers} LIBS ${E_LIBS} TIMEOUT ${E_TIMEOUT})
  endforeach()
endfunction()
