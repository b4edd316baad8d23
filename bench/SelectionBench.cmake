# Model-selection benchmark against scikit-learn (see docs/performance.md). The program times
# automatic K selection and forward feature selection through the component and writes the data
# for bench/selection_peer.py; bench/run_selection_bench.sh runs both sides. Include it from the
# top-level list inside if(KNN_BUILD_BENCH):
#   include(${CMAKE_SOURCE_DIR}/bench/SelectionBench.cmake)
if(TARGET knn_core AND NOT TARGET selection_bench)
    add_executable(selection_bench ${CMAKE_CURRENT_LIST_DIR}/selection_bench.cpp)
    target_link_libraries(selection_bench PRIVATE knn_core velcommon940r velparsexml940r)
    target_compile_options(selection_bench PRIVATE ${KNN_WARNINGS})
endif()
