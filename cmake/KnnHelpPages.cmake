# Writes the manual page and the bash completion of `knn` from the program's own help texts, so
# that both say what the program that is installed says: `knn --help` gives the commands, and
# `knn COMMAND --help` each command's usage, text and options.
#
#   cmake -DKNN=path/to/knn -DMAN_PAGE=out/knn.1 -DCOMPLETION=out/knn -P KnnHelpPages.cmake
#
# A help text is read as lines: "Usage: ..." is the synopsis; a line at the left margin that ends
# in a colon heads a section; an indented line whose text has a gap of two or more spaces is an
# entry (term, gap, description), and a line indented up to an entry's description continues
# it; any other indented line is shown as it is (examples); the remaining lines are paragraphs.
cmake_minimum_required(VERSION 3.20)

foreach(variable KNN MAN_PAGE COMPLETION)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "KnnHelpPages.cmake needs -D${variable}=...")
    endif()
endforeach()

function(knn_help out_var)
    execute_process(COMMAND "${KNN}" ${ARGN} --help
        RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE error)
    if(NOT result EQUAL 0 OR text STREQUAL "")
        message(FATAL_ERROR "`knn ${ARGN} --help` failed (${result}): ${error}")
    endif()
    set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Splits a text into a list of lines; semicolons and brackets are masked so that the list
# keeps every line whole, and unmasked again by knn_unmask.
function(knn_lines out_var text)
    string(REPLACE ";" "<semicolon>" text "${text}")
    string(REPLACE "[" "<lbracket>" text "${text}")
    string(REPLACE "]" "<rbracket>" text "${text}")
    string(REGEX REPLACE "\n$" "" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

function(knn_unmask out_var text)
    string(REPLACE "<semicolon>" ";" text "${text}")
    string(REPLACE "<lbracket>" "[" text "${text}")
    string(REPLACE "<rbracket>" "]" text "${text}")
    set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Text for roff: backslashes escaped, option dashes as minus signs, no line that starts with a
# control character.
function(knn_roff out_var text)
    knn_unmask(text "${text}")
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|[ ,[(\"'/|])--([A-Za-z])" "\\1\\\\-\\\\-\\2" text "${text}")
    string(REGEX REPLACE "(^|[ ,[(\"'/|])-([A-Za-z])" "\\1\\\\-\\2" text "${text}")
    # Hyphens inside an option name too (--min-k), so that the page can be searched for it.
    set(previous "")
    while(NOT text STREQUAL previous)
        set(previous "${text}")
        string(REGEX REPLACE "(\\\\-[A-Za-z0-9]+)-([A-Za-z0-9])" "\\1\\\\-\\2" text "${text}")
    endwhile()
    if(text MATCHES "^[.']")
        set(text "\\&${text}")
    endif()
    set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Appends the roff of one help text (without its usage line) to `out_var`; `heading` is the
# macro for its section headings (.SH for the program's own help, .SS for a command's). Also
# returns, in `<out_var>_OPTIONS` and `<out_var>_VALUED`, the options the text lists and those
# of them that take a value, as `option=PLACEHOLDER`.
function(knn_help_to_roff out_var text heading)
    knn_lines(lines "${text}")
    set(roff "")
    set(options "")
    set(valued "")
    set(mode text)          # text | entry | literal
    set(entry_column 0)
    foreach(line IN LISTS lines)
        if(line MATCHES "^Usage: ")
            continue()
        endif()
        if(line STREQUAL "")
            if(mode STREQUAL "literal")
                string(APPEND roff ".fi\n.RE\n")
            endif()
            set(mode blank)
            continue()
        endif()
        string(STRIP "${line}" body)
        string(FIND "${line}" "${body}" indent)
        if(indent EQUAL 0 AND body MATCHES "^[A-Z][^:]*:$")
            if(mode STREQUAL "literal")
                string(APPEND roff ".fi\n.RE\n")
            endif()
            string(REGEX REPLACE ":$" "" title "${body}")
            if(heading STREQUAL ".SH")
                string(TOUPPER "${title}" title)
            endif()
            knn_roff(title "${title}")
            string(APPEND roff "${heading} \"${title}\"\n")
            set(mode section)
            continue()
        endif()
        if(indent EQUAL 0)
            if(mode STREQUAL "literal")
                string(APPEND roff ".fi\n.RE\n")
            endif()
            knn_roff(body "${body}")
            if(NOT mode STREQUAL "text")
                string(APPEND roff ".PP\n")
            endif()
            string(APPEND roff "${body}\n")
            set(mode text)
            continue()
        endif()
        if(mode STREQUAL "entry" AND indent GREATER_EQUAL entry_column)
            knn_roff(body "${body}")
            string(APPEND roff "${body}\n")
            continue()
        endif()
        if(body MATCHES "^([^ ]+( [^ ]+)*)   *(.*)$")
            set(term "${CMAKE_MATCH_1}")
            set(description "${CMAKE_MATCH_3}")
            string(FIND "${line}" "${description}" entry_column)
            if(mode STREQUAL "literal")
                string(APPEND roff ".fi\n.RE\n")
            endif()
            if(term MATCHES "^-")
                # "-q, --quiet" or "--data FILE": each alternative is an option and its value.
                string(REPLACE ", " ";" alternatives "${term}")
                foreach(alternative IN LISTS alternatives)
                    if(alternative MATCHES "^(-[-A-Za-z0-9]+)( (.*))?$")
                        list(APPEND options "${CMAKE_MATCH_1}")
                        # (A placeholder such as N is false to if(), so compare it.)
                        if(NOT CMAKE_MATCH_3 STREQUAL "")
                            list(APPEND valued "${CMAKE_MATCH_1}=${CMAKE_MATCH_3}")
                        endif()
                    endif()
                endforeach()
            endif()
            # Each alternative's word in bold, its value in italics: "\fB-q\fR, \fB--quiet\fR".
            string(REPLACE ", " ";" alternatives "${term}")
            set(term "")
            foreach(alternative IN LISTS alternatives)
                if(alternative MATCHES "^([^ ]+) (.+)$")
                    knn_roff(word "${CMAKE_MATCH_1}")
                    knn_roff(value "${CMAKE_MATCH_2}")
                    list(APPEND term "\\fB${word}\\fR \\fI${value}\\fR")
                else()
                    knn_roff(word "${alternative}")
                    list(APPEND term "\\fB${word}\\fR")
                endif()
            endforeach()
            list(JOIN term ", " term)
            knn_roff(description "${description}")
            string(APPEND roff ".TP\n${term}\n${description}\n")
            set(mode entry)
            continue()
        endif()
        # Indented text that is no entry: an example, shown as it is.
        if(NOT mode STREQUAL "literal")
            string(APPEND roff ".RS\n.nf\n")
            set(mode literal)
        endif()
        knn_roff(body "${body}")
        string(APPEND roff "${body}\n")
    endforeach()
    if(mode STREQUAL "literal")
        string(APPEND roff ".fi\n.RE\n")
    endif()
    list(REMOVE_DUPLICATES options)
    list(REMOVE_DUPLICATES valued)
    set(${out_var} "${roff}" PARENT_SCOPE)
    set(${out_var}_OPTIONS "${options}" PARENT_SCOPE)
    set(${out_var}_VALUED "${valued}" PARENT_SCOPE)
endfunction()

# The first line of a help text that begins with `prefix`, without the prefix.
function(knn_line_after out_var text prefix)
    knn_lines(lines "${text}")
    set(found "")
    foreach(line IN LISTS lines)
        string(FIND "${line}" "${prefix}" at)
        if(at EQUAL 0)
            string(LENGTH "${prefix}" skip)
            string(SUBSTRING "${line}" ${skip} -1 found)
            break()
        endif()
    endforeach()
    set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

# --- the program's own help: its summary, commands and options -------------------------------
knn_help(main_help)
execute_process(COMMAND "${KNN}" --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    set(version "knn")
endif()

knn_lines(main_lines "${main_help}")
set(summary "")
set(commands "")
set(in_commands FALSE)
foreach(line IN LISTS main_lines)
    if(summary STREQUAL "" AND NOT line MATCHES "^Usage: " AND NOT line STREQUAL "")
        set(summary "${line}")
    endif()
    if(line MATCHES "^[A-Z][^:]*:$")
        set(in_commands FALSE)
        if(line STREQUAL "Commands:")
            set(in_commands TRUE)
        endif()
    elseif(in_commands AND line MATCHES "^  +([a-z][-a-z0-9]*)  ")
        list(APPEND commands "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT commands)
    message(FATAL_ERROR "`knn --help` lists no commands under \"Commands:\"")
endif()
# "help" prints the other commands' texts; it has no options of its own.
set(help_commands "${commands}")
list(REMOVE_ITEM help_commands help)

knn_help_to_roff(main_roff "${main_help}" ".SH")
knn_unmask(summary "${summary}")
string(SUBSTRING "${summary}" 0 1 first)
string(TOLOWER "${first}" first)
string(SUBSTRING "${summary}" 1 -1 rest)
string(REGEX REPLACE "\\.$" "" name_line "${first}${rest}")
knn_roff(name_line "${name_line}")
knn_roff(summary_roff "${summary}")

# The summary is the page's first paragraph; the rest of the program's help follows it.
string(REGEX REPLACE "^\\.PP\n" "" main_roff "${main_roff}")
string(LENGTH "${summary_roff}\n" skip)
string(FIND "${main_roff}" "${summary_roff}\n" at)
if(at EQUAL 0)
    string(SUBSTRING "${main_roff}" ${skip} -1 main_roff)
endif()
set(synopsis ".B knn\n.I command\n.RI [ options ]\n")

set(command_sections "")
set(completion_cases "")
foreach(command IN LISTS help_commands)
    knn_help(command_help ${command})
    knn_line_after(usage "${command_help}" "Usage: ")
    knn_roff(usage "${usage}")
    string(APPEND synopsis ".br\n${usage}\n")
    knn_help_to_roff(command_roff "${command_help}" ".SS")
    # The command's text goes first, under its own heading; its sections are subsections.
    string(APPEND command_sections ".SS \"knn ${command}\"\n${usage}\n.PP\n${command_roff}")

    # Completion: the options of this command, and after an option that takes a value, what
    # may follow (files for FILE and PATH, the listed words for a few, nothing otherwise).
    list(JOIN command_roff_OPTIONS " " option_words)
    set(value_cases "")
    foreach(pair IN LISTS command_roff_VALUED)
        string(REGEX MATCH "^([^=]+)=(.*)$" unused "${pair}")
        set(option "${CMAKE_MATCH_1}")
        knn_unmask(placeholder "${CMAKE_MATCH_2}")
        if(placeholder MATCHES "FILE|PATH|\\.csv|\\.xml")
            set(action "_knn_files")
        elseif(option STREQUAL "--metric")
            set(action "_knn_words 'euclidean cityblock'")
        elseif(option STREQUAL "--select")
            set(action "_knn_words 'auto'")
        else()
            set(action "COMPREPLY=()")
        endif()
        string(FIND "${value_cases}" "${option})" seen)
        if(seen EQUAL -1)
            string(APPEND value_cases "            ${option}) ${action}; return 0 ;;\n")
        endif()
    endforeach()
    string(APPEND completion_cases
        "        ${command})\n"
        "            case \"$prev\" in\n"
        "${value_cases}"
        "            esac\n"
        "            _knn_words '${option_words}'\n"
        "            ;;\n")
endforeach()

# --- the manual page --------------------------------------------------------------------------
string(TIMESTAMP date "%Y-%m-%d" UTC)
knn_roff(version_roff "${version}")
file(WRITE "${MAN_PAGE}"
".\\\" Made from the help texts of knn by cmake/KnnHelpPages.cmake: change those, not this file.
.TH KNN 1 \"${date}\" \"${version_roff}\" \"User Commands\"
.nh
.SH NAME
knn \\- ${name_line}
.SH SYNOPSIS
${synopsis}.SH DESCRIPTION
${summary_roff}
.PP
Each command's options are listed under
.BR COMMAND\\ OPTIONS ;
.B knn help
.I command
prints them too.
${main_roff}.SH \"COMMAND OPTIONS\"
${command_sections}")

# --- the bash completion ----------------------------------------------------------------------
list(JOIN commands " " command_words)
list(JOIN help_commands " " help_command_words)
list(JOIN main_roff_OPTIONS " " main_option_words)
file(WRITE "${COMPLETION}"
"# bash completion for knn, made from its help texts by cmake/KnnHelpPages.cmake.

_knn_words() {
    local word
    COMPREPLY=()
    while IFS= read -r word; do
        COMPREPLY+=(\"$word\")
    done < <(compgen -W \"$1\" -- \"$cur\")
}

_knn_files() {
    local file
    COMPREPLY=()
    while IFS= read -r file; do
        COMPREPLY+=(\"$file\")
    done < <(compgen -f -- \"$cur\")
    compopt -o filenames 2>/dev/null
}

_knn() {
    local cur=\"\${COMP_WORDS[COMP_CWORD]}\" prev=\"\${COMP_WORDS[COMP_CWORD-1]}\"
    local command=\"\" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case \"\${COMP_WORDS[i]}\" in
            -*) ;;
            *) command=\"\${COMP_WORDS[i]}\"; break ;;
        esac
    done
    case \"$command\" in
        \"\")
            _knn_words '${command_words} ${main_option_words}'
            ;;
        help)
            [[ $COMP_CWORD -eq $((i + 1)) ]] && _knn_words '${help_command_words}'
            ;;
${completion_cases}        *)
            COMPREPLY=()
            ;;
    esac
    return 0
}
complete -F _knn knn
")
message(STATUS "knn help pages: ${MAN_PAGE}, ${COMPLETION} (commands: ${command_words})")
