qj_add_bench(parallel SOURCES parallel_bench.cpp LIBS qj_app PkgConfig::BENCH_CPP_HTTPLIB)
target_compile_definitions(qj_bench_parallel PRIVATE QJ_NODE_BASELINE="${PROJECT_SOURCE_DIR}/bench/node")
