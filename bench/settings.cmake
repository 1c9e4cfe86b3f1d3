qj_add_bench(settings SOURCES settings_bench.cpp LIBS qj_app)
