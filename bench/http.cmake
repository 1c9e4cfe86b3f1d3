pkg_check_modules(BENCH_CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(BENCH_CURL REQUIRED IMPORTED_TARGET libcurl)
qj_add_bench(http SOURCES http_bench.cpp LIBS qj_http PkgConfig::BENCH_CPP_HTTPLIB PkgConfig::BENCH_CURL)
