# Writes the header OUT holding each SQL file of FILES (name=path;...) as a string constant, so
# that the program carries its schema and needs no file beside it.
set(text "#pragma once\n// Generated from ledger/sql/ by ledger/EmbedSql.cmake: edit the .sql files.\n")
foreach(entry ${FILES})
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 path)
    file(READ "${path}" sql)
    string(APPEND text "inline constexpr char ${name}[] = R\"q40sql(${sql})q40sql\";\n")
endforeach()
file(WRITE "${OUT}.tmp" "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")
file(REMOVE "${OUT}.tmp")
