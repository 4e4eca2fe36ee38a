# Installing and packaging on Linux: install rules, the desktop entry, manual pages, the Debian
# package.
include(GNUInstallDirs)

# --- Hardening of the optimised builds ------------------------------------------------------
# Applied per target, since the targets exist by now; the sanitizer builds keep their own flags.
set(ZT_HARDEN_COMPILE -O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
set(ZT_HARDEN_LINK -Wl,-z,relro,-z,now -Wl,--as-needed)

function(zt_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    zt_targets_below(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

if(NOT ZT_SANITIZE AND NOT ZT_TSAN)
  set(zt_optimised "$<CONFIG:Release,RelWithDebInfo>")
  zt_targets_below(${CMAKE_SOURCE_DIR} zt_all_targets)
  foreach(t ${zt_all_targets})
    get_target_property(kind ${t} TYPE)
    if(kind STREQUAL "EXECUTABLE" OR kind STREQUAL "STATIC_LIBRARY")
      set_target_properties(${t} PROPERTIES POSITION_INDEPENDENT_CODE ON)
      target_compile_options(${t} PRIVATE "$<${zt_optimised}:${ZT_HARDEN_COMPILE}>")
    endif()
    if(kind STREQUAL "EXECUTABLE")
      target_link_options(${t} PRIVATE "$<${zt_optimised}:-pie;${ZT_HARDEN_LINK}>")
    endif()
  endforeach()
endif()

# The installed programs carry no run path: every library they need is a system one.
set(CMAKE_SKIP_INSTALL_RPATH ON)

# --- Install rules ----------------------------------------------------------------------------
set(ZT_DIST ${CMAKE_SOURCE_DIR}/dist/linux)
set(ZT_QT_RESOURCES ${CMAKE_SOURCE_DIR}/platform/qt/resources)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS zemtabulo-cli v3sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Beside bin/ as the programs look for it (platform/posix/http_module.h).
install(TARGETS zemtabulo-http LIBRARY DESTINATION lib/zemtabulo/modules)
# The line server with its dashboard's page, a systemd unit (not enabled: it needs a database
# first) and the unit's settings, a conffile.
install(TARGETS zemtabulo-line RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/line/web/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zemtabulo/web)
install(FILES ${ZT_DIST}/zemtabulo-line.service DESTINATION /lib/systemd/system)
install(FILES ${ZT_DIST}/line.env DESTINATION /etc/zemtabulo)
target_compile_definitions(zt_line PRIVATE
  ZT_LINE_WEB_DIR="${CMAKE_INSTALL_FULL_DATADIR}/zemtabulo/web")
if(ZT_GUI)
  # The station window runs zemtabulo-cli from its own folder: both go into bin.
  install(TARGETS zemtabulo zemtabulo-station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The sounds, the logo and the icon, where the desktop program looks after the working
# directory and its own folder.
install(FILES
  ${ZT_QT_RESOURCES}/ringin.wav ${ZT_QT_RESOURCES}/carib.wav ${ZT_QT_RESOURCES}/end.wav
  ${ZT_QT_RESOURCES}/logo137.bmp ${ZT_QT_RESOURCES}/zemtabulo.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zemtabulo)
install(FILES ${ZT_QT_RESOURCES}/zemtabulo.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
install(FILES ${ZT_DIST}/org.zemtabulo.ZemTabulo.desktop
  ${ZT_DIST}/org.zemtabulo.ZemTabulo.Station.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
string(TIMESTAMP zt_release_date "%Y-%m-%d" UTC)
configure_file(${ZT_DIST}/org.zemtabulo.ZemTabulo.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/org.zemtabulo.ZemTabulo.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/org.zemtabulo.ZemTabulo.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages: scdoc sources, gzipped roff in the build.
find_program(ZT_SCDOC scdoc REQUIRED)
set(zt_man_pages)
foreach(page zemtabulo zemtabulo-station zemtabulo-cli v3sim zemtabulo-line)
  set(src ${ZT_DIST}/${page}.1.scd)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "'${ZT_SCDOC}' < '${src}' | gzip -9n > '${out}'"
    DEPENDS ${src} VERBATIM)
  list(APPEND zt_man_pages ${out})
endforeach()
add_custom_target(zt_man_pages ALL DEPENDS ${zt_man_pages})
install(FILES ${zt_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The README, the examples, the copyright and the package's change log.
set(zt_docdir ${CMAKE_INSTALL_DATADIR}/doc/zemtabulo)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${ZT_DIST}/copyright DESTINATION ${zt_docdir})
install(FILES ${CMAKE_SOURCE_DIR}/examples/sample.v3 DESTINATION ${zt_docdir}/examples)
# Dates follow SOURCE_DATE_EPOCH when it is set, for a reproducible package.
string(TIMESTAMP zt_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${ZT_DIST}/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND sh -c "gzip -9n < '${CMAKE_BINARY_DIR}/changelog' > '${CMAKE_BINARY_DIR}/changelog.gz'"
  DEPENDS ${CMAKE_BINARY_DIR}/changelog VERBATIM)
add_custom_target(zt_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${zt_docdir})

# The desktop program's last place to look for its data: the configured data folder.
if(ZT_GUI)
  target_compile_definitions(zt_qt PRIVATE
    ZT_INSTALL_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}/zemtabulo")
endif()

# What the install rules take, to build without the tests: `--target zt_installed`. Installing
# does not rebuild everything first.
add_custom_target(zt_installed)
add_dependencies(zt_installed zemtabulo-cli v3sim zemtabulo-line zt_man_pages zt_changelog)
if(ZT_GUI)
  add_dependencies(zt_installed zemtabulo zemtabulo-station)
endif()
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# --- The Debian package -----------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zemtabulo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZemTabulo developers")
set(CPACK_PACKAGE_CONTACT "ZemTabulo developers <dev@zemtabulo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "writes screen data and settings into V3 display devices")
set(CPACK_PACKAGE_DESCRIPTION
  "ZemTabulo puts screen data and display settings into V3 series display\n\
devices, for operators on a production line: over a serial line, several\n\
devices at once, or as an update file for a USB stick.\n\
\n\
The package holds the desktop program (zemtabulo), the station window that\n\
writes up to 16 devices at once (zemtabulo-station), the command-line tool\n\
(zemtabulo-cli), a simulated device on a pseudo-terminal (v3sim), and the\n\
line server (zemtabulo-line) that keeps the stations' records in PostgreSQL\n\
and shows them on a dashboard.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZemTabulo developers <dev@zemtabulo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own Japanese texts (the choosers, their warnings) come from the translations package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-ipafont-gothic, sound-theme-freedesktop, qt6-translations-l10n, libjs-chart.js")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql-15")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZT_DIST}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Never a build with the test hooks (cmake/refuse-test-hooks.cmake).
set(CPACK_ZT_TEST_HOOKS ${ZT_TEST_HOOKS})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/refuse-test-hooks.cmake)
include(CPack)
