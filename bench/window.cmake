# The window against the batch mode: a Qt program (built with the window only).
if(QJ_GUI)
    pkg_check_modules(BENCH_WINDOW_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_executable(qj_bench_window ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
    target_link_libraries(qj_bench_window PRIVATE qj_gui PkgConfig::BENCH_WINDOW_HTTPLIB)
    target_include_directories(qj_bench_window PRIVATE ${PROJECT_SOURCE_DIR})
    qj_gui_target(qj_bench_window)
endif()
