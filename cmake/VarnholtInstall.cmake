# `cmake --install` (and `make install`): the programs and the modules they
# load side by side in bin/, the sample runtime folder and data root the
# service unit seeds /var/lib/varnholt from, the unit, its system account
# and the logrotate stanza. The prefix is /opt/varnholt unless one is given.

set(VARNHOLT_INSTALLED_PROGRAMS VarnholtServerd VarnholtServer DumpRunEnvironmentInfo ResourceCheck
                                varnholtctl varnstatus varnsim)
install(TARGETS ${VARNHOLT_INSTALLED_PROGRAMS} ${VARNHOLT_RUNTIME_MODULES}
        RUNTIME DESTINATION bin
        LIBRARY DESTINATION bin)
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ResourceCheck.manifest DESTINATION bin)

set(VARNHOLT_SHARE share/varnholt)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/scripts/runtime/ DESTINATION ${VARNHOLT_SHARE}/runtime)
# What the host checks need below the data root: the system drive's Boot.ini.
file(WRITE ${CMAKE_BINARY_DIR}/dist/Boot.ini "[operating systems]\nmulti(0)=\"Varnholt\" /noexecute=optin\n")
install(FILES ${CMAKE_BINARY_DIR}/dist/Boot.ini DESTINATION ${VARNHOLT_SHARE}/data-root/C)

# The unit names the prefix the tree is installed at (`--prefix` may differ
# from the one configured), so it is written at install time.
install(CODE "
  set(VARNHOLT_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/dist/systemd/varnholt.service.in\"
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/varnholt.service\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/varnholt.service\")
")
install(FILES ${PROJECT_SOURCE_DIR}/dist/sysusers/varnholt.conf DESTINATION lib/sysusers.d)
install(FILES ${PROJECT_SOURCE_DIR}/dist/logrotate/varnholt DESTINATION ${VARNHOLT_SHARE}/logrotate)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/varnholt)
