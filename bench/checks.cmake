qj_add_bench(checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/checks_bench.cpp LIBS qj_checks)
