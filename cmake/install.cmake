# Installation in the usual places of a Linux system (cmake --install) and the Debian package
# (cpack -G DEB). Only the console program, its manual page, the README and the licence are
# installed: the tests, the synthesizer and the benchmarks stay in the build folder.
include(GNUInstallDirs)
set(QUILL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillodine)
set(QUILL_MAN_DIR ${CMAKE_INSTALL_MANDIR}/man1)
install(TARGETS Quillodine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES README.md README.ja.md DESTINATION ${QUILL_DOC_DIR} COMPONENT program)
# cmake --install: the page as written and the licence under its own name.
install(FILES doc/Quillodine.1 DESTINATION ${QUILL_MAN_DIR} COMPONENT plain)
install(FILES LICENSE DESTINATION ${QUILL_DOC_DIR} COMPONENT plain)

# The package follows Debian's policy instead: the page compressed, the licence as the copyright
# file, and the changelog a native package must carry. Only CPack installs this component.
string(TIMESTAMP QUILL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
execute_process(COMMAND git log -1 --format=%aD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE QUILL_GIT_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_status)
if(git_status EQUAL 0 AND QUILL_GIT_DATE)
  set(QUILL_CHANGELOG_DATE "${QUILL_GIT_DATE}")
endif()
set(QUILL_PACKAGE_MAINTAINER "Quillodine maintainers <maintainers@users.noreply.c-seed-839a15a7.example>")
set(QUILL_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(CONFIGURE OUTPUT ${QUILL_DEBIAN_DIR}/changelog CONTENT
"quillodine (${PROJECT_VERSION}) unstable; urgency=medium

  * Quillodine ${PROJECT_VERSION}.

 -- ${QUILL_PACKAGE_MAINTAINER}  ${QUILL_CHANGELOG_DATE}
")
add_custom_command(OUTPUT ${QUILL_DEBIAN_DIR}/Quillodine.1.gz ${QUILL_DEBIAN_DIR}/changelog.gz
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/Quillodine.1 > ${QUILL_DEBIAN_DIR}/Quillodine.1.gz
                   COMMAND gzip -9n -c ${QUILL_DEBIAN_DIR}/changelog > ${QUILL_DEBIAN_DIR}/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/doc/Quillodine.1 ${QUILL_DEBIAN_DIR}/changelog VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${QUILL_DEBIAN_DIR}/Quillodine.1.gz ${QUILL_DEBIAN_DIR}/changelog.gz)
install(FILES ${QUILL_DEBIAN_DIR}/Quillodine.1.gz DESTINATION ${QUILL_MAN_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${QUILL_DEBIAN_DIR}/changelog.gz DESTINATION ${QUILL_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES LICENSE DESTINATION ${QUILL_DOC_DIR} RENAME copyright COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME quillodine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clean and split Japanese digital television recordings")
set(CPACK_PACKAGE_DESCRIPTION "Quillodine reads recordings of Japanese digital television (terrestrial,
BS, CS) stored as MPEG-2 transport streams and writes one clean transport
stream per service class (HD, SD, one-segment, CS services), each with its own
tables, elementary streams and PCR. It can also split at programme, PMT and
audio-mode changes, renumber time stamps and write GOP lists for a cut editor.")
set(CPACK_STRIP_FILES ON)
# One package of the program and the Debian files.
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
