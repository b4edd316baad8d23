# Peak-memory benchmark of the model-document export (see docs/performance.md). A host-like
# program that loads the component library; it needs nothing beyond the host library, so it
# can be built with or without the other benchmarks:
#   include(${CMAKE_SOURCE_DIR}/bench/PmmlExportMemory.cmake)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/pmml_export_memory.cpp AND TARGET velcommon940r
   AND TARGET knn800)
    add_executable(pmml_export_memory ${CMAKE_CURRENT_LIST_DIR}/pmml_export_memory.cpp)
    target_link_libraries(pmml_export_memory PRIVATE velcommon940r ${CMAKE_DL_LIBS})
    target_compile_options(pmml_export_memory PRIVATE ${KNN_WARNINGS})
    target_compile_definitions(pmml_export_memory PRIVATE
        KNN_LIBRARY_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
    add_dependencies(pmml_export_memory knn800)
endif()
