# Install rules of the project, included by the top-level CMakeLists.txt after the targets are
# defined. Layout (GNUInstallDirs, relative to the prefix):
#
#   LIBDIR/libknn800.so, libvelcommon940r.so, libvelparsexml940r.so
#   INCLUDEDIR/knn/*.h                      the host headers a host needs to drive the component
#   BINDIR/knn                              (install rule in app/CMakeLists.txt)
#   MANDIR/man1/knn.1                       made from the program's help texts at build time
#   DATADIR/bash-completion/completions/knn made from the same texts
#   LIBDIR/cmake/knn/                       find_package(knn CONFIG): knn::velcommon940r,
#                                           knn::velparsexml940r, knn::headers, knn::knn,
#                                           knn::component and KNN_COMPONENT_LIBRARY
#   LIBDIR/pkgconfig/knn.pc
include(CMakePackageConfigHelpers)

set(KNN_COMPONENT_FILE_NAME libknn800.so)
set(KNN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/knn)

# The headers a host program includes to load the component and drive it (records, status,
# the algorithm and factory interfaces, dictionary, missing values, display, XML writer) and
# the settings parser's. Each compiles on its own: the out-of-tree host in tests/install builds
# every installed header alone.
file(GLOB KNN_PUBLIC_HEADERS CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/host/common/*.h ${CMAKE_SOURCE_DIR}/host/parser/*.h)
# The parser's own form of a parsed document is not for hosts.
list(FILTER KNN_PUBLIC_HEADERS EXCLUDE REGEX "/ParsedSettings\\.h$")
install(FILES ${KNN_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/knn)

# The headers alone, for a host that loads the component but calls nothing of the host
# libraries.
add_library(knn_headers INTERFACE)
set_target_properties(knn_headers PROPERTIES EXPORT_NAME headers)
target_include_directories(knn_headers INTERFACE
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/host/common>
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/host/parser>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/knn>)

install(TARGETS velcommon940r velparsexml940r knn_headers EXPORT knnTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The component is loaded by name at run time and never linked, so it is not exported as a
# target to link with; the package configuration names its installed file instead.
install(TARGETS knn800 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# `knn` looks for the component in ../lib beside its own directory (app/Component.cpp). When
# the library directory is another one (lib/x86_64-linux-gnu, lib64), a relative symbolic
# link there points to the installed component.
file(RELATIVE_PATH KNN_PROGRAM_LOOKUP_DIR ${CMAKE_INSTALL_FULL_BINDIR}/.. ${CMAKE_INSTALL_FULL_LIBDIR})
if(TARGET knn AND NOT KNN_PROGRAM_LOOKUP_DIR STREQUAL "lib")
    install(CODE "
        cmake_path(SET lookup NORMALIZE
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/../lib\")
        cmake_path(SET installed NORMALIZE
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
        file(MAKE_DIRECTORY \"\${lookup}\")
        file(RELATIVE_PATH target \"\${lookup}\" \"\${installed}/${KNN_COMPONENT_FILE_NAME}\")
        message(STATUS \"Installing: \${lookup}/${KNN_COMPONENT_FILE_NAME} -> \${target}\")
        file(CREATE_LINK \"\${target}\" \"\${lookup}/${KNN_COMPONENT_FILE_NAME}\" SYMBOLIC)
    ")
endif()

# Manual page and bash completion, from the help texts of the program just built.
if(TARGET knn)
    set(KNN_HELP_DIR ${CMAKE_BINARY_DIR}/help)
    add_custom_command(
        OUTPUT ${KNN_HELP_DIR}/knn.1 ${KNN_HELP_DIR}/knn
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KNN_HELP_DIR}
        COMMAND ${CMAKE_COMMAND} -DKNN=$<TARGET_FILE:knn> -DMAN_PAGE=${KNN_HELP_DIR}/knn.1
                -DCOMPLETION=${KNN_HELP_DIR}/knn -P ${CMAKE_SOURCE_DIR}/cmake/KnnHelpPages.cmake
        DEPENDS knn ${CMAKE_SOURCE_DIR}/cmake/KnnHelpPages.cmake
        COMMENT "Writing the manual page and bash completion of knn from its help texts"
        VERBATIM)
    add_custom_target(knn_help_pages ALL DEPENDS ${KNN_HELP_DIR}/knn.1 ${KNN_HELP_DIR}/knn)
    install(FILES ${KNN_HELP_DIR}/knn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${KNN_HELP_DIR}/knn DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# CMake package.
set(KNN_COMPONENT_INSTALL_PATH ${CMAKE_INSTALL_LIBDIR}/${KNN_COMPONENT_FILE_NAME})
set(KNN_INCLUDE_INSTALL_DIR ${CMAKE_INSTALL_INCLUDEDIR}/knn)
install(EXPORT knnTargets NAMESPACE knn:: DESTINATION ${KNN_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/knnConfig.cmake.in
    ${CMAKE_BINARY_DIR}/package/knnConfig.cmake
    INSTALL_DESTINATION ${KNN_CMAKE_DIR}
    PATH_VARS KNN_COMPONENT_INSTALL_PATH KNN_INCLUDE_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/knnConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/knnConfig.cmake
    ${CMAKE_BINARY_DIR}/package/knnConfigVersion.cmake DESTINATION ${KNN_CMAKE_DIR})

# pkg-config file. Its prefix is computed from its own place, so the installed tree can move.
file(RELATIVE_PATH KNN_PC_TO_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KNN_PC_TO_PREFIX "${KNN_PC_TO_PREFIX}")
# A host loads the component with dlopen; where that is a library of its own, link it too.
set(KNN_PC_DL_LIBS "")
foreach(library IN LISTS CMAKE_DL_LIBS)
    string(APPEND KNN_PC_DL_LIBS " -l${library}")
endforeach()
string(STRIP "${KNN_PC_DL_LIBS}" KNN_PC_DL_LIBS)
configure_file(${CMAKE_SOURCE_DIR}/cmake/knn.pc.in ${CMAKE_BINARY_DIR}/package/knn.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/knn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The whole installation, checked by an out-of-tree host (tests/install/CheckInstall.cmake).
# Not in the sanitizer builds: an installed tree is a release artefact, checked in the plain
# build and by .ci/run.
if(KNN_BUILD_TESTS AND TARGET knn AND NOT KNN_SANITIZE)
    add_test(NAME Install.OutOfTreeHostFindsThePackageAndScores
        COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/install-check
                -DCXX_COMPILER=${CMAKE_CXX_COMPILER} -DSANITIZE=${KNN_SANITIZE}
                -DGENERATOR=${CMAKE_GENERATOR} -DCMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR}
                -P ${CMAKE_SOURCE_DIR}/tests/install/CheckInstall.cmake)
endif()
