# cmake -DTOOL=<tool> -DVERSION=<version> -DOUTPUT=<folder> -P ManPages.cmake
# Writes the tool's man pages with help2man from its --help texts: <tool>.1, and <tool>-<command>.1
# for each subcommand its --help lists.
get_filename_component(name ${TOOL} NAME)
string(TOUPPER ${name} title)
file(REMOVE_RECURSE ${OUTPUT})
file(MAKE_DIRECTORY ${OUTPUT})

function(man_page file description help_option)
    execute_process(COMMAND help2man --no-info --version-string=${VERSION} --name=${description}
                            --help-option=${help_option} ${TOOL}
        OUTPUT_VARIABLE page RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "help2man failed on ${TOOL} ${help_option}")
    endif()
    set(page_title ${title}${ARGN})
    string(TOUPPER "${page_title}" page_title)
    string(REGEX REPLACE "\n\\.TH ${title} " "\n.TH ${page_title} " page "${page}")
    string(REGEX REPLACE "\n\\.SH NAME\n${name} " "\n.SH NAME\n${name}${ARGN} " page "${page}")
    file(WRITE ${OUTPUT}/${file} "${page}")
endfunction()

execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${TOOL} --help failed")
endif()
man_page(${name}.1 "look at, draw, try and improve horizontal grid environment codes" --help)
string(REGEX REPLACE ".*\nSubcommands:\n" "" commands "${help}")
# One list entry per line; a description stops at its first semicolon, which suits a NAME line.
string(REPLACE "\n" ";" commands "${commands}")
foreach(line ${commands})
    if(line MATCHES "^  ([a-z][a-z-]*) +(.+)$")
        man_page(${name}-${CMAKE_MATCH_1}.1 "${CMAKE_MATCH_2}" "${CMAKE_MATCH_1} --help" -${CMAKE_MATCH_1})
    endif()
endforeach()
