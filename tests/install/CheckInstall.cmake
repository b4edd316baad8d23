# Installs a built tree into a fresh prefix and checks the installation as its users meet it:
# an out-of-tree host (this folder) finds the package, loads the installed component by name and
# scores a record; the installed program finds the installed component and runs the example;
# the manual page and the bash completion cover every option of every command; knn.pc gives
# flags that build the same host.
#
#   cmake -DBUILD_DIR=build -DSOURCE_DIR=. -DWORK_DIR=/tmp/x [-DPREFIX=/tmp/x/prefix]
#         [-DSANITIZE=address,undefined] [-DCXX_COMPILER=g++] [-DGENERATOR=Ninja]
#         [-DCMAKE_INSTALL_BINDIR=bin]
#         -P tests/install/CheckInstall.cmake
#
# With PREFIX given and no BUILD_DIR, an existing installation is checked as it is.
cmake_minimum_required(VERSION 3.20)

if(NOT DEFINED SOURCE_DIR OR NOT DEFINED WORK_DIR)
    message(FATAL_ERROR "CheckInstall.cmake needs -DSOURCE_DIR and -DWORK_DIR")
endif()
if(NOT DEFINED PREFIX)
    set(PREFIX "${WORK_DIR}/prefix")
endif()
set(failures 0)

# Records a failed condition and goes on, so that one run reports every fault. The condition
# is given as if() arguments; none of them may be an empty string.
function(check condition_text)
    if(NOT (${ARGN}))
        message(SEND_ERROR "FAILED: ${condition_text}")
        math(EXPR failures "${failures} + 1")
        set(failures ${failures} PARENT_SCOPE)
    else()
        message(STATUS "ok: ${condition_text}")
    endif()
endfunction()

# Runs a command; stops the check when it fails. The output goes to `out_var`.
function(run out_var)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
        ERROR_VARIABLE err WORKING_DIRECTORY "${WORK_DIR}")
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "`${command}` failed (${result}):\n${out}\n${err}")
    endif()
    set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# --- install ------------------------------------------------------------------------------------
if(DEFINED BUILD_DIR)
    file(REMOVE_RECURSE "${WORK_DIR}")
    file(MAKE_DIRECTORY "${WORK_DIR}")
    run(unused "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")

# Where things went: found, not assumed, so that any GNUInstallDirs layout passes.
file(GLOB_RECURSE installed_files LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
function(find_installed out_var regex)
    set(found "${installed_files}")
    list(FILTER found INCLUDE REGEX "${regex}")
    list(TRANSFORM found PREPEND "${PREFIX}/")
    set(${out_var} "${found}" PARENT_SCOPE)
endfunction()
find_installed(config "^lib[^/]*(/[^/]+)?/cmake/knn/knnConfig\\.cmake$")
find_installed(pc_file "^lib[^/]*(/[^/]+)?/pkgconfig/knn\\.pc$")
find_installed(man_page "/man1/knn\\.1$")
find_installed(completion "/bash-completion/completions/knn$")
if(NOT DEFINED CMAKE_INSTALL_BINDIR)
    set(CMAKE_INSTALL_BINDIR bin)
endif()
set(program "${PREFIX}/${CMAKE_INSTALL_BINDIR}/knn")
check("the package configuration is installed (${config})" config)
check("knn.pc is installed (${pc_file})" pc_file)
check("the manual page is installed (${man_page})" man_page)
check("the program is installed" EXISTS "${program}")
check("the bash completion is installed (${completion})" completion)
check("the headers are installed" EXISTS "${PREFIX}/include/knn/IVelAlgorithm.h")
if(failures)
    message(FATAL_ERROR "${failures} installed files missing")
endif()

set(example_csv "${SOURCE_DIR}/examples/iris/iris.csv")
set(example_settings "${SOURCE_DIR}/examples/iris/iris.xml")
set(flags "")
if(SANITIZE)
    set(flags "-fsanitize=${SANITIZE}")
endif()

# --- the out-of-tree host, through find_package ---------------------------------------------------
set(host_args -S "${SOURCE_DIR}/tests/install" -B "${WORK_DIR}/host"
    "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DCMAKE_CXX_FLAGS=${flags}")
if(GENERATOR)
    list(APPEND host_args -G "${GENERATOR}")
endif()
if(CXX_COMPILER)
    list(APPEND host_args "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
endif()
run(configured "${CMAKE_COMMAND}" ${host_args})
string(FIND "${configured}" "component ${PREFIX}/" at)
check("find_package(knn) names the installed component" NOT at EQUAL -1)
run(unused "${CMAKE_COMMAND}" --build "${WORK_DIR}/host")
run(scored "${WORK_DIR}/host/tiny_host" "${example_csv}")
message(STATUS "tiny_host:\n${scored}")
check("the host predicts virginica for a large-petalled flower"
    scored MATCHES "species: virginica \\(probability")
check("the host was trained on all 150 records" scored MATCHES "trained on 150 records, K = 5")

# --- the installed program ------------------------------------------------------------------------
run(help "${program}" --help)
check("installed knn --help prints its usage" help MATCHES "^Usage: knn ")
# No --library: the program must find the installed component by itself.
run(summary "${program}" run --quiet --settings "${example_settings}" --data "${example_csv}")
check("installed knn run finds the installed component and builds the example"
    summary MATCHES "species")
run(demo "${program}" demo --quiet)
check("installed knn demo runs the installed example" demo MATCHES "iris")

# --- manual page and completion: every option of every command ----------------------------------
file(READ "${man_page}" page)
file(READ "${completion}" completion_text)
check("the manual page is roff with a title line" page MATCHES "\n\\.TH KNN 1 ")
foreach(command init run demo)
    run(command_help "${program}" ${command} --help)
    check("the manual page has a section for knn ${command}" page MATCHES "\\.SS \"knn ${command}\"")
    string(REGEX MATCHALL "(^|[ \n])--[a-z][-a-z]*" options "${command_help}")
    list(REMOVE_DUPLICATES options)
    # The completion's branch for the command, up to the next branch.
    string(REGEX MATCH "\n        ${command}\\)\n[^\n]*\n(            [^\n]*\n)*" branch "${completion_text}")
    foreach(option IN LISTS options)
        string(STRIP "${option}" option)
        string(REPLACE "-" "\\-" roff_option "${option}")
        string(FIND "${page}" "${roff_option}" at)
        check("the manual page names knn ${command} ${option}" NOT at EQUAL -1)
        string(FIND "${branch}" " ${option} " at_word)
        string(FIND "${branch}" " ${option}'" at_last)
        string(FIND "${branch}" "'${option} " at_first)
        check("the completion offers knn ${command} ${option}"
            NOT (at_word EQUAL -1 AND at_last EQUAL -1 AND at_first EQUAL -1))
    endforeach()
endforeach()
find_program(GROFF groff)
if(GROFF)
    execute_process(COMMAND "${GROFF}" -man -ww -z -Tutf8 "${man_page}"
        RESULT_VARIABLE result ERROR_VARIABLE warnings)
    set(clean FALSE)
    if(result EQUAL 0 AND warnings STREQUAL "")
        set(clean TRUE)
    endif()
    check("groff reads the manual page without a warning ${warnings}" clean)
endif()

# The completion itself, in bash: each case sets the words as bash would and asks _knn.
find_program(BASH bash)
if(BASH)
    file(WRITE "${WORK_DIR}/settings-file.xml" "")
    file(WRITE "${WORK_DIR}/complete.sh" "
source '${completion}'
ask() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _knn; echo \"$*=>\${COMPREPLY[*]}\"; }
ask knn r
ask knn ''
ask knn help ''
ask knn run --se
ask knn run --settings sett
ask knn init --metric ''
ask knn init --select a
ask knn init --target ''
ask knn demo -
")
    run(answers "${BASH}" --norc --noprofile "${WORK_DIR}/complete.sh")
    message(STATUS "completion answers:\n${answers}")
    check("knn r completes to run" answers MATCHES "knn r=>run\n")
    check("knn completes to the commands and the program's options"
        answers MATCHES "knn =>init run score demo help [^\n]*--help --version\n")
    check("knn help completes to the other commands, not to options"
        answers MATCHES "knn help =>init run score demo[^-\n]*\n")
    check("knn run --se completes to --settings" answers MATCHES "knn run --se=>--settings\n")
    check("knn run --settings completes a file name"
        answers MATCHES "knn run --settings sett=>settings-file.xml\n")
    check("knn init --metric completes to the metrics"
        answers MATCHES "knn init --metric =>euclidean cityblock\n")
    check("knn init --select completes to auto" answers MATCHES "knn init --select a=>auto\n")
    check("knn init --target offers nothing" answers MATCHES "knn init --target =>\n")
    check("knn demo - completes to demo's options"
        answers MATCHES "knn demo -=>--library [^\n]*--quiet [^\n]*--help\n")
endif()

# --- pkg-config: its flags build the same host ----------------------------------------------------
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    get_filename_component(pc_dir "${pc_file}" DIRECTORY)
    set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
    run(cflags "${PKG_CONFIG}" --cflags knn)
    run(libs "${PKG_CONFIG}" --libs knn)
    run(component "${PKG_CONFIG}" --variable=component knn)
    string(STRIP "${cflags}" cflags)
    string(STRIP "${libs}" libs)
    string(STRIP "${component}" component)
    message(STATUS "pkg-config --cflags --libs knn: ${cflags} ${libs}")
    check("pkg-config names the installed component (${component})" EXISTS "${component}")
    check("pkg-config links the host libraries" libs MATCHES "-lvelparsexml940r -lvelcommon940r")
    if(NOT CXX_COMPILER)
        set(CXX_COMPILER c++)
    endif()
    separate_arguments(cflags UNIX_COMMAND "${cflags}")
    separate_arguments(libs UNIX_COMMAND "${libs}")
    string(REGEX MATCH "-L([^ ;]+)" unused "${libs}")
    set(libdir "${CMAKE_MATCH_1}")
    run(unused "${CXX_COMPILER}" -std=c++20 ${flags} ${cflags}
        "-DKNN_COMPONENT_LIBRARY=\"${component}\"" "${SOURCE_DIR}/tests/install/tiny_host.cpp"
        -o "${WORK_DIR}/tiny_host_pc" ${libs} "-Wl,-rpath,${libdir}")
    run(scored "${WORK_DIR}/tiny_host_pc" "${example_csv}")
    check("the host built with pkg-config's flags predicts virginica"
        scored MATCHES "species: virginica")
endif()

if(failures)
    message(FATAL_ERROR "${failures} installation checks failed")
endif()
message(STATUS "The installation in ${PREFIX} passed every check")
