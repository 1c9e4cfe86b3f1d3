qj_add_bench(batch SOURCES ${CMAKE_CURRENT_LIST_DIR}/batch_bench.cpp LIBS qj_batch nlohmann_json::nlohmann_json)
