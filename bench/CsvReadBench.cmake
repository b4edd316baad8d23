# Speed of reading CSV data files as `knn run` does (see docs/performance.md, "Reading CSV").
# It links the program's own library and nothing else, so it can be built with or without the
# other benchmarks:
#   include(${CMAKE_SOURCE_DIR}/bench/CsvReadBench.cmake)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/csv_read_bench.cpp AND TARGET knn_cli_lib)
    add_executable(csv_read_bench ${CMAKE_CURRENT_LIST_DIR}/csv_read_bench.cpp)
    target_link_libraries(csv_read_bench PRIVATE knn_cli_lib)
    target_compile_options(csv_read_bench PRIVATE ${KNN_WARNINGS})
endif()
