# Writes the manual page of q40prog-cli from its own --help texts, so the two cannot
# differ, and compresses it as Debian wants (gzip -9n: no name, no time stamp).
#   cmake -DCLI=path/to/q40prog-cli -DVERSION=x.y.z -DOUT=q40prog-cli.1 -P CliManPage.cmake

function(run_help out)
    execute_process(COMMAND ${CLI} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${CLI} ${ARGN} --help failed: ${rc}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Plain text as roff: backslashes and dashes escaped, no line taken for a request.
function(roff_text out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

run_help(main)
string(REGEX MATCH "\n\n([^\n]+)\n\ncommands:" _ "${main}")
roff_text(summary "${CMAKE_MATCH_1}")
string(REGEX MATCH "exit codes: ([^\n]+)" _ "${main}")
roff_text(exit_codes "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "\n  [a-z][a-z-]+  " entries "${main}")

set(page ".TH Q40PROG\\-CLI 1 \"\" \"q40prog\\-cli ${VERSION}\" \"User Commands\"
.SH NAME
q40prog\\-cli \\- command line of the KARDO Q\\-Series firmware updater
.SH SYNOPSIS
.B q40prog\\-cli
.I COMMAND
.RI [ OPTIONS ]
.br
.B q40prog\\-cli
.I COMMAND
.B \\-\\-help
.SH DESCRIPTION
${summary}
The same work as the desktop program
.BR q40prog (1),
without a display: for production lines, scripts and remote machines.
.SH COMMANDS
")
foreach(entry ${entries})
    string(STRIP "${entry}" name)
    run_help(help ${name})
    string(REGEX MATCH "^usage: q40prog-cli ([^\n]*)\n\n" head "${help}")
    roff_text(usage "${CMAKE_MATCH_1}")
    string(LENGTH "${head}" skip)
    string(SUBSTRING "${help}" ${skip} -1 body)
    roff_text(body "${body}")
    string(STRIP "${body}" body)
    string(APPEND page ".SS \"${usage}\"\n.nf\n${body}\n.fi\n")
endforeach()
string(APPEND page ".SH EXIT STATUS
${exit_codes}
.SH SEE ALSO
.BR q40prog (1)
")
file(WRITE "${OUT}" "${page}")
execute_process(COMMAND gzip -9nf "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${OUT} failed")
endif()
