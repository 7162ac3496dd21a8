# Installation and the Debian package. `cmake --install` lays Velmor out as a Linux program under
# any prefix (and DESTDIR); `cpack -G DEB` packages the same rules as velmor_<version>_<arch>.deb.
#
#   bin/                               velmor, velmor-testsrc, velmor-sink, velmor-ctl
#   lib/velmor/                        the built-in NDI transport (the loader looks in
#                                      <executable>/../lib/velmor, so bin/ and lib/velmor/ move
#                                      together)
#   lib/systemd/user/velmor@.service   the headless relay as a user service
#   share/applications, share/icons    the desktop entry and its icon
#   share/man/man1                     the manual pages, made from each program's --help
#   share/doc/velmor                   README, licence texts, copyright, changelog

# cpack and `cmake --install` take what is built; they never start a build of everything first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELMOR_PACKAGE_MAINTAINER "Velmor maintainers <velmor@example.org>"
    CACHE STRING "Maintainer field of the Debian package (\"Name <address>\")")

foreach(program velmor velmor-testsrc velmor-sink velmor-ctl)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()
# A library that is only opened by dlopen needs no execute bit (Debian installs them 0644).
install(TARGETS velmor_ndi_builtin LIBRARY DESTINATION lib/velmor
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${PROJECT_SOURCE_DIR}/data/velmor.desktop DESTINATION share/applications)
file(GLOB icon_sizes RELATIVE ${PROJECT_SOURCE_DIR}/data/icons/hicolor
     ${PROJECT_SOURCE_DIR}/data/icons/hicolor/*)
foreach(size ${icon_sizes})
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hicolor/${size}/apps/velmor.png
          DESTINATION share/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/velmor.svg DESTINATION share/icons/hicolor/scalable/apps)

# Documentation. The project has stated no licence yet: whatever licence texts the tree holds are
# installed, and the copyright file says plainly that the terms are not stated.
file(GLOB licence_texts ${PROJECT_SOURCE_DIR}/LICENSE* ${PROJECT_SOURCE_DIR}/LICENCE*
     ${PROJECT_SOURCE_DIR}/COPYING*)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${licence_texts}
              ${PROJECT_SOURCE_DIR}/data/debian/copyright
        DESTINATION share/doc/velmor)

# Debian wants a changelog in the package's doc folder, compressed without a time stamp.
find_program(VELMOR_GZIP gzip REQUIRED)
string(TIMESTAMP VELMOR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND ${VELMOR_GZIP} -9nkf ${PROJECT_BINARY_DIR}/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/changelog)
add_custom_target(velmor_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION share/doc/velmor)

# The user service names the installed velmor by its full path, which is known only when
# installing (cpack installs into /usr whatever the build's prefix).
install(CODE "
  set(VELMOR_INSTALLED_BINDIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
  configure_file(\"${PROJECT_SOURCE_DIR}/data/systemd/velmor@.service.in\"
                 \"${PROJECT_BINARY_DIR}/install/velmor@.service\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/install/velmor@.service DESTINATION lib/systemd/user)

# Manual pages from each program's --help (help2man, scripts/setup.sh), with the sections --help
# has no room for from data/man/<program>.h2m. Sanitizer and fuzz builds are never installed
# and skip them.
find_program(VELMOR_HELP2MAN help2man)
if(VELMOR_SANITIZE STREQUAL "" AND NOT VELMOR_FUZZ)
  if(NOT VELMOR_HELP2MAN)
    message(WARNING "help2man not found: no manual pages (scripts/setup.sh installs it)")
  else()
    set(man_velmor "receive one NDI source, process it and publish it again")
    set(man_velmor-testsrc "publish an NDI test source")
    set(man_velmor-sink "receive an NDI source and check what arrives")
    set(man_velmor-ctl "send remote commands to running Velmor copies")
    set(pages)
    foreach(program velmor velmor-testsrc velmor-sink velmor-ctl)
      if(NOT TARGET ${program})
        continue()
      endif()
      set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
      add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${VELMOR_HELP2MAN} --no-info --section=1 --name=${man_${program}}
                "--version-string=${PROJECT_VERSION}" "--source=Velmor ${PROJECT_VERSION}"
                "--manual=Velmor manual" --include=${PROJECT_SOURCE_DIR}/data/man/${program}.h2m
                --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${VELMOR_GZIP} -9nf ${page}
        DEPENDS ${program} ${PROJECT_SOURCE_DIR}/data/man/${program}.h2m
        COMMENT "Manual page ${program}(1)"
        VERBATIM)
      list(APPEND pages ${page}.gz)
    endforeach()
    add_custom_target(velmor_manpages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION share/man/man1)
  endif()
endif()

# The Debian package. Run-time dependencies come from the binaries (dpkg-shlibdeps); only what
# Qt opens by name at run time is listed here: the platform plugins, without which no
# QGuiApplication starts (not even `velmor --headless`), and the image format plugins for
# overlay pictures beyond PNG, JPEG and GIF.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NDI receiver, processor and re-transmitter")
# Debian shows the description as it stands, so its lines are wrapped here.
set(CPACK_PACKAGE_DESCRIPTION [[
Velmor receives one NDI video-over-IP source, processes its picture and sound
(freeze, proc amp, rotate/flip, de-interlace, overlays, key+fill split, audio
remap, gain and delay, PPM meter, waveform monitor, frame grabs) and publishes
the result again as new NDI sources, with up to eight numbered copies on one
machine. It uses an installed NDI runtime when there is one and its own
built-in transport otherwise.

The package also holds a test source, a sink that checks what arrives, a
remote control, and a systemd user service for headless relays.]])
set(CPACK_STRIP_FILES ON)
# Installing with DESTDIR keeps CMAKE_INSTALL_PREFIX the real /usr for the service's path.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMOR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")
include(CPack)
