# Holds docs/catalogue.md to the example catalogue the tests use: the page's complete example
# must be the file, and the listing it shows what q40prog-cli prints for it.
#   cmake -DDOC=docs/catalogue.md -DCATALOGUE=example/Q40Prog.INI -DLISTING=example/items-plain.txt
#         -P DocExample.cmake
cmake_minimum_required(VERSION 3.20)
file(READ "${DOC}" doc)
string(FIND "${doc}" "## A complete example" at)
if(at LESS 0)
    message(FATAL_ERROR "${DOC} has no section 'A complete example'")
endif()
string(SUBSTRING "${doc}" ${at} -1 doc)

# The text of the next fenced block whose opening line is ```<kind>, after 'from'.
function(next_block kind from out rest)
    string(FIND "${from}" "```${kind}\n" open)
    if(open LESS 0)
        message(FATAL_ERROR "no ```${kind} block in the example section of ${DOC}")
    endif()
    string(LENGTH "```${kind}\n" skip)
    math(EXPR start "${open} + ${skip}")
    string(SUBSTRING "${from}" ${start} -1 body)
    string(FIND "${body}" "```" close)
    string(SUBSTRING "${body}" 0 ${close} block)
    string(SUBSTRING "${body}" ${close} -1 after)
    set(${out} "${block}" PARENT_SCOPE)
    set(${rest} "${after}" PARENT_SCOPE)
endfunction()

next_block("ini" "${doc}" example doc)
string(SUBSTRING "${doc}" 3 -1 doc)  # past the closing fence of the example
next_block("" "${doc}" listing doc)

file(READ "${CATALOGUE}" expected)
if(NOT example STREQUAL expected)
    message(FATAL_ERROR "the complete example in ${DOC} is not ${CATALOGUE}")
endif()
file(READ "${LISTING}" expected)
if(NOT listing STREQUAL expected)
    message(FATAL_ERROR "the listing in ${DOC} is not ${LISTING}")
endif()
