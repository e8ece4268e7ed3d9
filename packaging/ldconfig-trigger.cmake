# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS). For a
# package holding a shared library in the loader's directories CPack writes
# postinst and postrm scripts that call ldconfig; Debian wants the library
# package to activate libc's ldconfig trigger instead, with no maintainer
# script of its own (what debhelper makes). libreqhandlers1 is rebuilt so:
# the same files, a "triggers" control file in place of the two scripts.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  if(NOT name MATCHES "^libreqhandlers1_.*\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/ldconfig-trigger")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  file(WRITE "${tree}/DEBIAN/triggers" "activate-noawait ldconfig\n")
  file(CHMOD "${tree}/DEBIAN/triggers" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
