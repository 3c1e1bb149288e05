# The Debian package (cpack -G DEB in the build folder): stripped programs built with the
# hardening flags, the copyright and changelog, the manual pages, and a description. Run
# scripts/package to build it and check it with lintian.
if(NOT Q40_GUI)
    return()
endif()

include(GNUInstallDirs)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/q40prog)
set(man_dir ${CMAKE_INSTALL_MANDIR}/man1)
set(packaging ${CMAKE_CURRENT_LIST_DIR})
set(generated ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})

# The changelog's newest entry names the version being packaged.
file(STRINGS ${packaging}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^q40prog \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog: the newest entry must be for ${PROJECT_VERSION}")
endif()

add_custom_command(OUTPUT ${generated}/changelog.gz ${generated}/q40prog.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${packaging}/changelog ${packaging}/q40prog.1 ${generated}
    COMMAND gzip -9nf ${generated}/changelog ${generated}/q40prog.1
    DEPENDS ${packaging}/changelog ${packaging}/q40prog.1 VERBATIM)
add_custom_command(OUTPUT ${generated}/q40prog-cli.1.gz
    COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:q40prog-cli> -DVERSION=${PROJECT_VERSION}
            -DOUT=${generated}/q40prog-cli.1 -P ${packaging}/CliManPage.cmake
    DEPENDS q40prog-cli ${packaging}/CliManPage.cmake VERBATIM)
add_custom_target(package_docs ALL
    DEPENDS ${generated}/changelog.gz ${generated}/q40prog.1.gz ${generated}/q40prog-cli.1.gz)

install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${doc_dir})
install(FILES ${generated}/q40prog.1.gz ${generated}/q40prog-cli.1.gz DESTINATION ${man_dir})
install(FILES ${packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME q40prog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME q40prog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR KARDO)
set(CPACK_PACKAGE_CONTACT "KARDO service <service@kardo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for KARDO Q-Series devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Q40Prog updates the firmware of KARDO Q-Series devices through the KARDO
serial programmer box, which connects a serial port of the PC to the ISP
header of the device's AVR microcontroller. It identifies the chip, loads the
firmware (Intel HEX or binary), writes the fuses, keeps the device's EEPROM
across the chip erase, and programs and verifies the flash, with progress,
abort and a log of every run.

The package holds the desktop program q40prog, the command line q40prog-cli
for production lines and scripts, and the simulated programmer box
q40prog-boxsim in /usr/lib/q40prog. It holds no catalogue: the service
department's Q40Prog.INI, its firmware files and pictures go to
/usr/lib/q40prog.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The ledger loads SQLite, libpq and libcrypto when it is first used (ledger/SharedLibrary.h),
# where dpkg-shlibdeps cannot see them; CPack adds the libraries it finds to these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0, libpq5, libssl3")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
