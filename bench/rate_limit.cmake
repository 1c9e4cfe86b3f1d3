qj_add_bench(rate_limit SOURCES rate_limit_bench.cpp LIBS qj_app PkgConfig::BENCH_CPP_HTTPLIB)
target_compile_definitions(qj_bench_rate_limit PRIVATE QJ_NODE_BASELINE="${PROJECT_SOURCE_DIR}/bench/node")
