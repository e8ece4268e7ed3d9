# Install rules of the unit's deliverables, each in the component that becomes
# one Debian package (cmake/Packaging.cmake):
#
#   runtime   libreqhandlers1      libreqhandlers.so.1 (the SONAME) and its file
#   dev       libreqhandlers-dev   headers, the libreqhandlers.so link, reqhandlers.pc,
#                                  a minimal host in C as an example
#   loader    dcu-loader           cfgload, cfgtool, cfgload.service, the sample unit
#   tools     dcu-tools            ttyblast, ttyblast-stream, ttysink, ifacegen
#   refhost   dcu-refhost          dcuhost, the reference host process, dcuhost.service
#                                  and the example of its settings file
#   buildhost dcu-imgseal          imgseal (build host only, never cross-built)
#   web       dcu-web              dcuweb and the service page, the lighttpd snippet
#
# metersim is a stand-in for the unit's own processes and is never installed.
#
# Paths follow the FHS of a Debian package when CMAKE_INSTALL_PREFIX is /usr
# (the armhf and deb-amd64 presets): programs in bin, the library in
# lib/<multiarch>, headers in include/dcu. The unit's own data paths
# (/usr/tev/...) are made by the unit, not installed.

# The library goes to the multiarch directory (lib/x86_64-linux-gnu,
# lib/arm-linux-gnueabihf) whatever the prefix, so that the packages of two
# architectures can sit side by side.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)

set(DCU_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE PATH
    "Where the systemd units go, relative to the prefix")

install(TARGETS cfgload cfgtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT loader)
install(TARGETS ttyblast ttyblast-stream ttysink ifacegen
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS dcuhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT refhost)
if(TARGET imgseal AND NOT CMAKE_CROSSCOMPILING)
  install(TARGETS imgseal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT buildhost)
endif()

# libreqhandlers.so.1.0.0 and the SONAME link libreqhandlers.so.1 for the
# hosts that run; the unversioned link only for those that build against it.
install(TARGETS reqhandlers
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)

file(GLOB DCU_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/dcu/*.h)
install(FILES ${DCU_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dcu COMPONENT dev)

configure_file(${PROJECT_SOURCE_DIR}/packaging/reqhandlers.pc.in
               ${PROJECT_BINARY_DIR}/packaging/reqhandlers.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/reqhandlers.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/example-host.c
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libreqhandlers-dev/examples RENAME host.c COMPONENT dev)

configure_file(${PROJECT_SOURCE_DIR}/packaging/cfgload.service.in
               ${PROJECT_BINARY_DIR}/packaging/cfgload.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/cfgload.service
        DESTINATION ${DCU_SYSTEMD_UNIT_DIR} COMPONENT loader)
# The head-end link as a service, and a commented example of its settings
# file beside the place of the live one, which the package never installs.
configure_file(${PROJECT_SOURCE_DIR}/packaging/dcuhost.service.in
               ${PROJECT_BINARY_DIR}/packaging/dcuhost.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/dcuhost.service
        DESTINATION ${DCU_SYSTEMD_UNIT_DIR} COMPONENT refhost)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/dcuhost.conf.example
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/dcu COMPONENT refhost)
install(FILES ${PROJECT_SOURCE_DIR}/examples/sample-unit.json
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/dcu-loader/examples COMPONENT loader)

# The example host is built with the project (not installed as a program), so
# that it keeps compiling, as C99 with every warning, against the public
# headers and the shared library, as an integrator's host would; the C host
# test (tests/host/c_host_test.cpp) runs it.
add_executable(dcu_example_host ${PROJECT_SOURCE_DIR}/packaging/example-host.c)
target_link_libraries(dcu_example_host PRIVATE reqhandlers)
target_compile_options(dcu_example_host PRIVATE -std=c99 -pedantic-errors -Wall -Wextra -Werror)
# The library refers to the globals and functions the host defines.
set_target_properties(dcu_example_host PROPERTIES ENABLE_EXPORTS ON)

# Copyright file, changelog and manual pages of every package; the contract.
include(${CMAKE_CURRENT_LIST_DIR}/PackageDocs.cmake)

# ---- web     dcu-web: dcuweb and the service page --------------------------
# dcuweb is a CGI program: it lives with the page's files, not on the PATH,
# but /usr/bin/dcuweb points at it for "dcuweb --set-password USER". The
# lighttpd snippet maps both under /dcu/ of the unit's site; the selection
# files stay in the document root where the handlers read them, written at
# run time, never packaged.
install(TARGETS dcuweb RUNTIME DESTINATION lib/dcu-web COMPONENT web)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/page/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/dcu-web/page
        COMPONENT web FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${PROJECT_SOURCE_DIR}/web/lighttpd/50-dcu-web.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/lighttpd/conf-available COMPONENT web)
file(CREATE_LINK ../lib/dcu-web/dcuweb ${PROJECT_BINARY_DIR}/packaging/dcuweb-link SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/packaging/dcuweb-link DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME dcuweb COMPONENT web)
dcu_gzip(${PROJECT_SOURCE_DIR}/man/dcuweb.1 ${DCU_DOC_BUILD_DIR}/man/dcuweb.1.gz)
add_custom_target(dcu_web_package_docs ALL DEPENDS ${DCU_DOC_BUILD_DIR}/man/dcuweb.1.gz)
install(FILES ${DCU_DOC_BUILD_DIR}/man/dcuweb.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT web)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${DCU_DOC_BUILD_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/dcu-web COMPONENT web)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/dcu-web
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT web)

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)

