if(NOT TARGET PkgConfig::BENCH_CURL)
    pkg_check_modules(BENCH_CURL REQUIRED IMPORTED_TARGET libcurl)
endif()
qj_add_bench(publish SOURCES publish_bench.cpp LIBS qj_publishing qj_publishing_json PkgConfig::BENCH_CURL)
target_compile_definitions(qj_bench_publish PRIVATE QJ_WORDPRESS_PEER="${PROJECT_SOURCE_DIR}/scripts/wordpress-peer.sh"
    QJ_BENCH_PEER_FOLDER="${CMAKE_CURRENT_BINARY_DIR}/publish-peer")
