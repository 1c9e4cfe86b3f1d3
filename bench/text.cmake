qj_add_bench(extraction SOURCES ${CMAKE_CURRENT_LIST_DIR}/extraction_bench.cpp LIBS qj_text)
