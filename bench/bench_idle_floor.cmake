# Built by bench_idle.cmake.
