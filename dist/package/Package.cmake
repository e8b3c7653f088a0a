# Install rules and the Debian package (scripts/package.sh configures a build with
# BRIMVALE_PACKAGE=ON and runs CPack). Left out of ordinary builds, so building and testing never
# need the packaging tools.
include(GNUInstallDirs)

set(BRIMVALE_HOMEPAGE "https://brimvale.app" CACHE STRING "The project's home page (package and AppStream)")
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
find_program(DPKG dpkg REQUIRED)

set(dist ${CMAKE_CURRENT_SOURCE_DIR}/dist)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/dist-generated)
file(MAKE_DIRECTORY ${generated})

install(TARGETS brimvale brimvale-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The command line's desktop verbs (alerts, suggest, scan --admin), loaded only when used.
install(TARGETS brimvale-cli-desktop LIBRARY DESTINATION lib/brimvale)
install(TARGETS brimvale-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/brimvale)

# The desktop: launcher, AppStream description, icon in every usual size.
install(FILES ${dist}/applications/app.brimvale.Brimvale.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${dist}/metainfo/app.brimvale.Brimvale.metainfo.xml.in
  ${generated}/app.brimvale.Brimvale.metainfo.xml @ONLY)
install(FILES ${generated}/app.brimvale.Brimvale.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${dist}/icons/brimvale.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(icon_pngs "")
foreach(size 16 22 24 32 48 64 128 256 512)
  set(png ${generated}/icons/${size}x${size}/brimvale.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${dist}/icons/brimvale.svg
    DEPENDS ${dist}/icons/brimvale.svg VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages from the programs' own --help, so they never disagree with them.
set(man_pages "")
foreach(program brimvale brimvale-cli)
  set(page ${generated}/${program}.1)
  if(program STREQUAL "brimvale")
    set(summary "desktop disk-space analyser")
  else()
    set(summary "where the disk space went, from the command line")
  endif()
  # The command line's --help-all describes every verb, not just their names.
  set(help_option --help)
  if(program STREQUAL "brimvale-cli")
    set(help_option --help-all)
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${summary}
            --help-option=${help_option} --version-string=${PROJECT_VERSION} --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program} VERBATIM)
  list(APPEND man_pages ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The package's changelog, in Debian's format, from the project's version.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${generated}/changelog
  "brimvale (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- The Brimvale developers <maintainers@brimvale.app>  ${changelog_date}\n")
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND ${GZIP} -9nkf ${generated}/changelog
  DEPENDS ${generated}/changelog VERBATIM)
install(FILES ${generated}/changelog.gz ${dist}/package/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brimvale)
add_custom_target(brimvale-package-files ALL DEPENDS ${icon_pngs} ${man_pages} ${generated}/changelog.gz)

install(FILES ${dist}/bash-completion/brimvale-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The privileged helper: bus activation, bus policy, polkit action, system unit.
install(FILES ${dist}/dbus-1/system-services/app.brimvale.helper.service
  DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services)
install(FILES ${dist}/dbus-1/system.d/app.brimvale.helper.conf
  DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)
install(FILES ${dist}/polkit-1/actions/app.brimvale.helper.policy
  DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
install(FILES ${dist}/systemd/brimvale-helper.service DESTINATION lib/systemd/system)

# The user units, pointing at the installed command line instead of ~/.local/bin.
foreach(unit brimvale-history.service brimvale-history.timer brimvale-watch.service)
  file(READ ${dist}/systemd/${unit} text)
  string(REPLACE "%h/.local/bin/brimvale-cli" "${CMAKE_INSTALL_FULL_BINDIR}/brimvale-cli" text "${text}")
  file(WRITE ${generated}/systemd/${unit} "${text}")
  install(FILES ${generated}/systemd/${unit} DESTINATION lib/systemd/user)
endforeach()

execute_process(COMMAND ${DPKG} --print-architecture
  OUTPUT_VARIABLE deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brimvale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brimvale developers")
set(CPACK_PACKAGE_CONTACT "The Brimvale developers <maintainers@brimvale.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk-space analyser with a ring view and safe cleanup")
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
 "Brimvale scans the root file system, the home folder or any folder in
parallel and shows where the space went as a ring of folders beside a
list of the biggest items. Items collected in a Cleanup List go to the
Trash or are erased in the background, behind a deletion guard that
refuses whatever would harm the system, an application or the user's data.
It suggests safe cleanups (caches, build leftovers, old installers,
duplicates), keeps a daily history of the disk with a fill forecast,
and includes brimvale-cli for machines without a desktop and a
privileged helper for scans as administrator.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${BRIMVALE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
set(CPACK_DEBIAN_FILE_NAME "brimvale_${PROJECT_VERSION}_${deb_arch}.deb")
# Shared libraries from what the binaries link; the QML modules and the platform plugins are
# loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtquick-templates, qml6-module-qtquick-shapes, qml6-module-qtqml-workerscript, qml6-module-qtcharts, qml6-module-qtquick-dialogs, qt6-qpa-plugins, libqt6svg6, dbus")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "polkitd, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${dist}/package/debian/postinst ${dist}/package/debian/prerm ${dist}/package/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
