qj_add_bench(links SOURCES ${CMAKE_CURRENT_LIST_DIR}/links_bench.cpp LIBS qj_templates)
