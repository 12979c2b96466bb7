# Runs at install time (cmake --install, CPack): writes the files that name
# the installed executable by its full path, so that they are right for
# whatever prefix the install is given. Expects TAVRILOX_PACKAGING_SOURCE,
# TAVRILOX_PACKAGING_BINARY, TAVRILOX_BINDIR, TAVRILOX_DATADIR and
# TAVRILOX_DESKTOP from the install rules before it.

set(TAVRILOX_EXECUTABLE "${CMAKE_INSTALL_PREFIX}/${TAVRILOX_BINDIR}/tavrilox")
set(generated "${TAVRILOX_PACKAGING_BINARY}/installed")

# systemd looks for user units under <prefix>/lib/systemd/user.
configure_file("${TAVRILOX_PACKAGING_SOURCE}/tavrilox.service.in" "${generated}/tavrilox.service" @ONLY)
file(INSTALL "${generated}/tavrilox.service" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")

if(TAVRILOX_DESKTOP)
  configure_file("${TAVRILOX_PACKAGING_SOURCE}/tavrilox.desktop.in" "${generated}/tavrilox.desktop" @ONLY)
  file(INSTALL "${generated}/tavrilox.desktop" DESTINATION "${CMAKE_INSTALL_PREFIX}/${TAVRILOX_DATADIR}/applications")
  # The autostart entry belongs in the system configuration: /etc/xdg for a
  # program under /usr (the Debian package), <prefix>/etc/xdg otherwise.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(sysconf "/etc")
  else()
    set(sysconf "${CMAKE_INSTALL_PREFIX}/etc")
  endif()
  configure_file("${TAVRILOX_PACKAGING_SOURCE}/tavrilox-autostart.desktop.in" "${generated}/autostart/tavrilox.desktop"
                 @ONLY)
  file(INSTALL "${generated}/autostart/tavrilox.desktop" DESTINATION "${sysconf}/xdg/autostart")
endif()
