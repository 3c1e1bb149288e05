# Installation like a desktop program: the program folder holds the catalogue Q40Prog.INI
# and the folders Firmware/ and Images/ beside the executables.
if(Q40_GUI)
    include(GNUInstallDirs)
    set(Q40_PROGRAM_DIR "${CMAKE_INSTALL_LIBDIR}/q40prog" CACHE STRING
        "Folder below the prefix for the program, its catalogue and its firmware")
    install(TARGETS Q40Prog q40prog-cli q40prog-boxsim RUNTIME DESTINATION ${Q40_PROGRAM_DIR})
    install(DIRECTORY DESTINATION ${Q40_PROGRAM_DIR}/Firmware)
    install(DIRECTORY DESTINATION ${Q40_PROGRAM_DIR}/Images)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/q40prog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/q40prog.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    # Commands on the PATH; the programs find their catalogue through the link's target.
    install(CODE "
        set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(MAKE_DIRECTORY \"\${bin}\")
        file(CREATE_LINK ../${Q40_PROGRAM_DIR}/Q40Prog \"\${bin}/q40prog\" SYMBOLIC)
        file(CREATE_LINK ../${Q40_PROGRAM_DIR}/q40prog-cli \"\${bin}/q40prog-cli\" SYMBOLIC)")
endif()
