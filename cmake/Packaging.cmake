# Debian packages with CPack, one per install component (cmake/Install.cmake):
#   cpack --config <build>/CPackConfig.cmake   (scripts/package.sh does it)
# Built from the armhf preset they are the unit's packages; from deb-amd64 the
# build host's, with imgseal besides. Dependencies on other packages come from
# dpkg-shlibdeps (exact shared-library versions) plus the few named here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dcu)
set(CPACK_PACKAGE_VENDOR "DCU project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-project-config.cmake)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

# The packages install under /usr; the configured prefix is also the one
# written into cfgload.service and reqhandlers.pc, so the two must agree.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian packages of this build would install under ${CMAKE_INSTALL_PREFIX}; "
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr (armhf and deb-amd64 presets) to package")
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "DCU maintainers <dcu-team@example.org>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dcuhost links the library of this build, which belongs to no installed
# package: dpkg-shlibdeps finds it here and the dependency is named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/reqhandlers)
# A shlibs file for the library's package, so that a host packaged elsewhere
# gets "libreqhandlers1 (>= version)" from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
if(CMAKE_CROSSCOMPILING)
  # Otherwise dpkg would name the build host's architecture.
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()

# The library's package activates the ldconfig trigger instead of calling
# ldconfig from scripts of CPack's making (packaging/ldconfig-trigger.cmake).
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/ldconfig-trigger.cmake)

set(DCU_PACKAGE_VERSION_EXACT "(= ${CPACK_PACKAGE_VERSION})")

set(CPACK_COMPONENTS_ALL runtime dev loader tools refhost)
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND CPACK_COMPONENTS_ALL buildhost)
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libreqhandlers1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "DCU request handlers, shared library
libreqhandlers.so.1 answers the head-end's on-demand and diagnostics
requests of a data concentrator unit. It is linked into the unit's host
communication process, which provides the store connection, the debug log
and the message outlet.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libreqhandlers-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libreqhandlers1 ${DCU_PACKAGE_VERSION_EXACT}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "DCU request handlers, development files
The C headers (dcu/reqhandlers.h, dcu/host_services.h, dcu/config_record.h),
the link to the shared library and its pkg-config file (reqhandlers), for
building a host communication process. A minimal host in C is in the
examples.")

set(CPACK_DEBIAN_LOADER_PACKAGE_NAME dcu-loader)
set(CPACK_DEBIAN_LOADER_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_LOADER_PACKAGE_RECOMMENDS redis-server)
set(CPACK_DEBIAN_LOADER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/loader/postinst
    ${PROJECT_SOURCE_DIR}/packaging/loader/prerm
    ${PROJECT_SOURCE_DIR}/packaging/loader/postrm)
set(CPACK_DEBIAN_LOADER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LOADER_DESCRIPTION "DCU configuration loader
cfgload validates the unit's binary configuration record and publishes every
setting into the local store; cfgload.service runs it once at boot, after
the store and before the host communication process. cfgtool encodes,
checks and decodes configuration records. A sample unit is in the examples.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME dcu-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "DCU field tools
ttyblast, ttyblast-stream and ttysink test the unit's serial ports end to
end; ifacegen writes a copy of the network interface definitions with a new
static address for one interface.")

set(CPACK_DEBIAN_REFHOST_PACKAGE_NAME dcu-refhost)
set(CPACK_DEBIAN_REFHOST_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_REFHOST_PACKAGE_DEPENDS "libreqhandlers1 ${DCU_PACKAGE_VERSION_EXACT}")
set(CPACK_DEBIAN_REFHOST_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/refhost/postinst
    ${PROJECT_SOURCE_DIR}/packaging/refhost/prerm
    ${PROJECT_SOURCE_DIR}/packaging/refhost/postrm
    ${PROJECT_SOURCE_DIR}/packaging/refhost/conffiles)
set(CPACK_DEBIAN_REFHOST_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_REFHOST_DESCRIPTION "DCU reference host process
dcuhost links the request-handler library as the unit's host communication
process does and answers requests given on its command line, on standard
input, or by the head-end over MQTT (--mqtt, with TLS, MQTT 5 and presence):
for service work, for trying a unit's store and data by hand, and as the
reference for the unit's own host process. dcuhost.service runs it as the
unit's hardened head-end link once /etc/dcu/dcuhost.conf exists.")

set(CPACK_DEBIAN_BUILDHOST_PACKAGE_NAME dcu-imgseal)
set(CPACK_DEBIAN_BUILDHOST_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_BUILDHOST_DESCRIPTION "DCU firmware signature tool
imgseal writes the MD5 signature list of a firmware release on the build
host and copies it into the firmware directory.")

# ---- web     dcu-web: the service page -------------------------------------
list(APPEND CPACK_COMPONENTS_ALL web)
set(CPACK_DEBIAN_WEB_PACKAGE_NAME dcu-web)
set(CPACK_DEBIAN_WEB_PACKAGE_SECTION web)
set(CPACK_DEBIAN_WEB_PACKAGE_DEPENDS lighttpd)
set(CPACK_DEBIAN_WEB_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/web/postinst
    ${PROJECT_SOURCE_DIR}/packaging/web/postrm
    ${PROJECT_SOURCE_DIR}/packaging/web/conffiles)
set(CPACK_DEBIAN_WEB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_WEB_DESCRIPTION "DCU service page
The unit's web page for service engineers: which OBIS codes each selection
file gives the head-end and under which names, chosen from the codes the
meters really have, and the state of the meters and the modem. dcuweb, its
CGI program, writes the selection files in the format the request handlers
read. lighttpd serves both behind digest authentication; the page lets
nobody in until an administrator sets a password with
dcuweb --set-password USER.")

include(CPack)
