qj_add_bench(job SOURCES job_bench.cpp LIBS qj_app PkgConfig::BENCH_CPP_HTTPLIB)
