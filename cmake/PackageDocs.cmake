# What every Debian package carries beside its programs: the copyright file
# (machine-readable, Apache-2.0), the changelog, and the manual page of each
# program it installs; and, in dcu-refhost, the contract of the head-end
# interface (schemas/). Pages and changelogs are compressed as Debian wants
# them: gzip -9n, so the archive holds no file name or time stamp and the
# same sources give the same bytes.

set(DCU_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging/doc)
set(DCU_DOC_FILES)
file(MAKE_DIRECTORY ${DCU_DOC_BUILD_DIR}/man)

# dcu_gzip(SOURCE OUTPUT): OUTPUT, built from SOURCE with gzip -9n.
function(dcu_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(DCU_DOC_FILES ${DCU_DOC_FILES} ${output} PARENT_SCOPE)
endfunction()

dcu_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${DCU_DOC_BUILD_DIR}/changelog.gz)

# Component -> package, as cmake/Packaging.cmake names them, and the pages
# of the programs each installs.
set(DCU_DOC_PACKAGES runtime:libreqhandlers1 dev:libreqhandlers-dev loader:dcu-loader
    tools:dcu-tools refhost:dcu-refhost)
set(DCU_MAN_PAGES loader:cfgload.8 loader:cfgtool.1 refhost:dcuhost.1
    tools:ttyblast.1 tools:ttysink.1 tools:ifacegen.1)
if(TARGET imgseal AND NOT CMAKE_CROSSCOMPILING)
  list(APPEND DCU_DOC_PACKAGES buildhost:dcu-imgseal)
  list(APPEND DCU_MAN_PAGES buildhost:imgseal.1)
endif()

foreach(entry IN LISTS DCU_DOC_PACKAGES)
  string(REPLACE ":" ";" pair ${entry})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${DCU_DOC_BUILD_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

foreach(entry IN LISTS DCU_MAN_PAGES)
  string(REPLACE ":" ";" pair ${entry})
  list(GET pair 0 component)
  list(GET pair 1 page)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  dcu_gzip(${PROJECT_SOURCE_DIR}/man/${page} ${DCU_DOC_BUILD_DIR}/man/${page}.gz)
  install(FILES ${DCU_DOC_BUILD_DIR}/man/${page}.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endforeach()

# ttyblast-stream is ttyblast's other build: one page for both.
file(CREATE_LINK ttyblast.1.gz ${DCU_DOC_BUILD_DIR}/man/ttyblast-stream.1.gz SYMBOLIC)
install(FILES ${DCU_DOC_BUILD_DIR}/man/ttyblast-stream.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

add_custom_target(dcu_package_docs ALL DEPENDS ${DCU_DOC_FILES})

# The contract: JSON Schemas, the AsyncAPI document and the checker, for
# the integrator who checks a head-end's parser against the unit's answers.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/schemas/answers ${PROJECT_SOURCE_DIR}/schemas/requests
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/dcu-refhost/schemas COMPONENT refhost)
install(FILES ${PROJECT_SOURCE_DIR}/schemas/definitions.schema.json ${PROJECT_SOURCE_DIR}/schemas/status.schema.json
              ${PROJECT_SOURCE_DIR}/schemas/asyncapi.yaml ${PROJECT_SOURCE_DIR}/schemas/validate.py
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/dcu-refhost/schemas COMPONENT refhost)

# Lintian tags a package draws on purpose, each with its reason.
foreach(entry dcu-loader:loader libreqhandlers1:runtime)
  string(REPLACE ":" ";" pair ${entry})
  list(GET pair 0 package)
  list(GET pair 1 component)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/${package}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
endforeach()
