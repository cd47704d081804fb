# What is installed, and the Debian package built from it (scripts/package.sh).
# Only the two programs, the chart module, the menu entry, the icon, the
# software-centre metadata, the manual pages and the package's copyright and
# changelog: the simulator's program, the benchmarks and the tests stay in the
# build tree.

# The menu entry's name and the software-centre id, reverse-DNS of the
# homepage (the About window's support page is under it).
set(LOCATOR_APP_ID org.example.locator_toolkit)
set(LOCATOR_HOMEPAGE "https://locator-toolkit.example.org/")

install(TARGETS locator-toolkit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${LOCATOR_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The same artwork the windows show, from their resources.
install(FILES ${PROJECT_SOURCE_DIR}/src/gui/main/resources/locator-toolkit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The changelog's newest entry is the release: it must be this version, and
# its date is the release date the software centres show.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _changelog)
list(GET _changelog 0 _entry)
if(NOT _entry MATCHES "^locator-toolkit \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog does not start with a locator-toolkit entry")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's newest entry is ${CMAKE_MATCH_1}, the project is "
                      "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at its top")
endif()
list(FILTER _changelog INCLUDE REGEX "^ -- .*>  ")
list(GET _changelog 0 _trailer)
if(NOT _trailer MATCHES ", ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in '${_trailer}'")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1")
string(LENGTH ${CMAKE_MATCH_1} _day_digits)
set(_day ${CMAKE_MATCH_1})
if(_day_digits EQUAL 1)
  set(_day 0${_day})
endif()
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(LOCATOR_RELEASE_DATE ${CMAKE_MATCH_3}-${_month}-${_day})

configure_file(${PROJECT_SOURCE_DIR}/packaging/metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${LOCATOR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${LOCATOR_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The sync watcher as a systemd user service, off until a user enables it.
configure_file(${PROJECT_SOURCE_DIR}/packaging/locator-sync.service.in
               ${PROJECT_BINARY_DIR}/packaging/locator-sync.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/locator-sync.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)

set(_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/locator-toolkit)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_doc_dir})
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE)
  # -n: no name or time stamp, so the package's bytes do not depend on when it was built.
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog
            ${PROJECT_BINARY_DIR}/packaging/changelog
    COMMAND ${GZIP_EXECUTABLE} -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    COMMENT "Compressed changelog"
    VERBATIM)
  add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${_doc_dir})
endif()

# Manual pages from the programs' own --help and --version, so they never
# drift from them; locator-cli's page also holds every command's --help (its
# options), gathered by packaging/man-commands.pl. A sanitizer or fuzzing
# build makes no pages: its programs are not the ones installed.
option(LOCATOR_MAN_PAGES "Generate the manual pages with help2man" ON)
if(LOCATOR_MAN_PAGES AND NOT LOCATOR_SANITIZE AND NOT LOCATOR_FUZZ)
  find_program(HELP2MAN_EXECUTABLE help2man)
  find_program(PERL_EXECUTABLE perl)
  if(NOT HELP2MAN_EXECUTABLE OR NOT PERL_EXECUTABLE OR NOT GZIP_EXECUTABLE)
    message(WARNING "help2man, perl or gzip not found: no manual pages (scripts/setup-deps.sh installs them)")
  else()
    set(_man_dir ${PROJECT_BINARY_DIR}/man)
    set(_offscreen ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen)
    add_custom_command(
      OUTPUT ${_man_dir}/locator-cli.h2m
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
      COMMAND ${_offscreen} ${PERL_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/man-commands.pl
              $<TARGET_FILE:locator-cli> ${_man_dir}/locator-cli.h2m
              ${PROJECT_SOURCE_DIR}/packaging/locator-cli.h2m
      DEPENDS locator-cli locator-cli-chart ${PROJECT_SOURCE_DIR}/packaging/man-commands.pl
              ${PROJECT_SOURCE_DIR}/packaging/locator-cli.h2m
      COMMENT "Manual page sections of the locator-cli commands"
      VERBATIM)
    set(_pages)
    foreach(_prog IN ITEMS locator-toolkit locator-cli)
      if(_prog STREQUAL "locator-toolkit")
        set(_name "desktop companion for the Korvex cable locator")
        set(_include ${PROJECT_SOURCE_DIR}/packaging/locator-toolkit.h2m)
      else()
        set(_name "the Korvex Locator PC Toolkit without its windows")
        set(_include ${_man_dir}/locator-cli.h2m)
      endif()
      add_custom_command(
        OUTPUT ${_man_dir}/${_prog}.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
        COMMAND ${_offscreen} ${HELP2MAN_EXECUTABLE} --no-info --section=1 "--name=${_name}"
                --include=${_include} --output=${_man_dir}/${_prog}.1 $<TARGET_FILE:${_prog}>
        COMMAND ${GZIP_EXECUTABLE} -9nf ${_man_dir}/${_prog}.1
        DEPENDS ${_prog} ${_include}
        COMMENT "Manual page for ${_prog}"
        VERBATIM)
      list(APPEND _pages ${_man_dir}/${_prog}.1.gz)
    endforeach()
    add_custom_target(man-pages ALL DEPENDS ${_pages})
    install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

set(CPACK_PACKAGE_NAME locator-toolkit)
set(CPACK_PACKAGE_VENDOR "Korvex")
set(CPACK_PACKAGE_CONTACT "Korvex Locator PC Toolkit team <toolkit@korvex.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL ${LOCATOR_HOMEPAGE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion for the Korvex hand-held cable locator")
# Debian wants each line of the long description under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Connects to a Korvex cable locator over its Bluetooth or USB serial link,
transfers its logged usage records into data files, sets its clock and user
name, and analyses the files (usage per mode, charts, record lists).
Includes locator-cli, the same work from the command line, and a built-in
demonstration locator (locator-toolkit --demo).")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# Plain strip leaves the compiler's .comment and .note sections; Debian's
# tools take them out too (cmake/PackageStrip.cmake, on the staged files).
set(CPACK_LOCATOR_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStrip.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # locator-toolkit_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt libraries from what the programs and the module link (dpkg-shlibdeps);
# the window system plugin and the usage archive's SQL drivers are loaded at
# run time, so they are named here (PostgreSQL only for shared fleets).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
include(CPack)
