# What is installed, and the Debian package built from it (scripts/package.sh).
# Only the two programs, the chart module, the menu entry, the icon and the
# manual pages: the simulator's program, the benchmarks and the tests stay in
# the build tree.

install(TARGETS locator-toolkit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/locator-toolkit.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The same artwork the windows show, from their resources.
install(FILES ${PROJECT_SOURCE_DIR}/src/gui/main/resources/locator-toolkit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages from the programs' own --help and --version, so they never
# drift from them. A sanitizer or fuzzing build makes no pages: its programs
# are not the ones installed.
option(LOCATOR_MAN_PAGES "Generate the manual pages with help2man" ON)
if(LOCATOR_MAN_PAGES AND NOT LOCATOR_SANITIZE AND NOT LOCATOR_FUZZ)
  find_program(HELP2MAN_EXECUTABLE help2man)
  find_program(GZIP_EXECUTABLE gzip)
  if(NOT HELP2MAN_EXECUTABLE OR NOT GZIP_EXECUTABLE)
    message(WARNING "help2man or gzip not found: no manual pages (scripts/setup-deps.sh installs them)")
  else()
    set(_man_dir ${PROJECT_BINARY_DIR}/man)
    set(_pages)
    foreach(_prog IN ITEMS locator-toolkit locator-cli)
      if(_prog STREQUAL "locator-toolkit")
        set(_name "desktop companion for the Korvex cable locator")
      else()
        set(_name "the Korvex Locator PC Toolkit without its windows")
      endif()
      add_custom_command(
        OUTPUT ${_man_dir}/${_prog}.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${HELP2MAN_EXECUTABLE} --no-info --section=1 "--name=${_name}"
                --output=${_man_dir}/${_prog}.1 $<TARGET_FILE:${_prog}>
        COMMAND ${GZIP_EXECUTABLE} -9nf ${_man_dir}/${_prog}.1
        DEPENDS ${_prog}
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion for the Korvex hand-held cable locator")
set(CPACK_PACKAGE_DESCRIPTION
    "Connects to a Korvex cable locator over its Bluetooth or USB serial link, transfers
its logged usage records into data files, sets its clock and user name, and
analyses the files (usage per mode, charts, record lists). Includes locator-cli,
the same work from the command line, and a built-in demonstration locator
(locator-toolkit --demo).")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
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
