pkg_check_modules(BENCH_LOG4CPLUS REQUIRED IMPORTED_TARGET log4cplus)
wayfold_benchmark(NAME logging_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/logging_bench.cpp
                  LIBS scriblet PkgConfig::BENCH_LOG4CPLUS)
