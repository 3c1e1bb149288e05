# Every test carries at least one of these labels, so that `ctest -L unit` is the loop to run
# while editing:
#   unit  fast, in process: no window, no program on a pseudo-terminal
#   gui   windows, offscreen or on an X server of the test's own
#   e2e   through the programs (q40prog-cli, q40prog-boxsim), mostly on pseudo-terminals
#   slow  takes more than a few seconds
# Other labels (soak, faults) may come in addition. The test `test_labels` fails when any
# test lacks all four.
set(Q40_TEST_LABELS unit gui e2e slow)

function(_q40_check_labels what)
    set(known FALSE)
    foreach(label ${ARGN})
        if(label IN_LIST Q40_TEST_LABELS)
            set(known TRUE)
        endif()
    endforeach()
    if(NOT known)
        message(FATAL_ERROR "${what} needs one of the labels ${Q40_TEST_LABELS} (LABELS ...)")
    endif()
endfunction()

# q40_add_test(NAME <name> LABELS <label>... COMMAND <command> <arg>...): add_test with its
# labels.
function(q40_add_test)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME" "LABELS;COMMAND")
    _q40_check_labels("test ${arg_NAME}" ${arg_LABELS})
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
    set_tests_properties(${arg_NAME} PROPERTIES LABELS "${arg_LABELS}")
endfunction()

# q40_discover_tests(<target> LABELS <label>... [SLOW <regex>] [DISCOVERY_TIMEOUT <s>]
#                    [PROPERTIES <name> <value>...]):
# the target's GoogleTest cases, all with these labels; cases whose names match SLOW also get
# `slow`. The labels are set after discovery, since discovery passes no list through.
function(q40_discover_tests target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "SLOW;DISCOVERY_TIMEOUT" "LABELS;PROPERTIES")
    _q40_check_labels("the tests of ${target}" ${arg_LABELS})
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "q40_discover_tests(${target}): unknown ${arg_UNPARSED_ARGUMENTS}")
    endif()
    # A Windows build runs each test program whole under Wine: listing its cases would start
    # Wine once more per program at build time.
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES LABELS "${arg_LABELS}")
        return()
    endif()
    set(options TEST_LIST ${target}_TESTS)
    if(arg_DISCOVERY_TIMEOUT)
        list(APPEND options DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
    endif()
    if(arg_PROPERTIES)
        list(APPEND options PROPERTIES ${arg_PROPERTIES})
    endif()
    gtest_discover_tests(${target} ${options})
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    set(text "if(${target}_TESTS)\n")
    string(APPEND text "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${arg_LABELS}\")\n")
    if(arg_SLOW)
        string(APPEND text "  foreach(test IN LISTS ${target}_TESTS)\n")
        string(APPEND text "    if(test MATCHES [==[${arg_SLOW}]==])\n")
        string(APPEND text "      set_tests_properties(\${test} PROPERTIES LABELS \"${arg_LABELS};slow\")\n")
        string(APPEND text "    endif()\n  endforeach()\n")
    endif()
    string(APPEND text "endif()\n")
    file(WRITE "${script}" "${text}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
