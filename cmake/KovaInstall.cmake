# Where `cmake --install` puts the deliverables, and the packages CPack makes of them
# (script/package). The layout is the one docs/install.md describes:
#   UNIX (prefix /usr in the .deb; the .tar.gz holds the same below its top folder)
#     lib/kovaevents/libkovaevents.so   the add-in, to copy into the server's program directory
#     lib/kovaevents/libqixapi.so       the stand-in server kovahost runs the add-in on
#     bin/kovahost                      finds both through ../lib/kovaevents
#     share/man/man1/kovahost.1
#     share/doc/kovaevents/             the administrator's docs, examples/ (with their outputs)
#   Windows (.zip, below its top folder)
#     kovaevents.dll                    the add-in
#     kovahost.exe                      finds kovaevents.dll and qixapi.dll in its own folder
#     qixapi.dll                        the stand-in server kovahost runs the add-in on
#     doc/                              the administrator's docs
#     examples/                         the example scenarios and their outputs
#   (the compiler's runtime is linked into each of the three; they import only system DLLs and
#   each other)
# The version is the project version of the top-level CMakeLists.txt.
include(GNUInstallDirs)

# The administrator's pages name only files installed here; README.md, which describes the
# sources, stays with them.
set(KOVA_ADMIN_DOCS
    ${PROJECT_SOURCE_DIR}/docs/install.md
    ${PROJECT_SOURCE_DIR}/docs/troubleshooting.md
    ${PROJECT_SOURCE_DIR}/docs/event-database.md
    ${PROJECT_SOURCE_DIR}/docs/scenarios.md)

file(GLOB KOVA_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.yaml
     ${PROJECT_SOURCE_DIR}/examples/*.expected)
if(WIN32)
  if(TARGET kovaevents)
    install(TARGETS kovaevents RUNTIME DESTINATION .)
  endif()
  if(TARGET kovahost)
    install(TARGETS kovahost qixapi RUNTIME DESTINATION .)
  endif()
  install(FILES ${KOVA_ADMIN_DOCS} DESTINATION doc)
  install(FILES ${KOVA_EXAMPLES} DESTINATION examples)
else()
  set(KOVA_INSTALL_LIBDIR lib/kovaevents)
  if(TARGET kovaevents)
    install(TARGETS kovaevents LIBRARY DESTINATION ${KOVA_INSTALL_LIBDIR})
  endif()
  install(TARGETS qixapi LIBRARY DESTINATION ${KOVA_INSTALL_LIBDIR})
  if(TARGET kovahost)
    set_target_properties(kovahost PROPERTIES INSTALL_RPATH "$ORIGIN/../${KOVA_INSTALL_LIBDIR}")
    install(TARGETS kovahost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    configure_file(${PROJECT_SOURCE_DIR}/tools/kovahost/kovahost.1.in
                   ${PROJECT_BINARY_DIR}/kovahost.1 @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/kovahost.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${KOVA_ADMIN_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${KOVA_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME kovaevents)
set(CPACK_PACKAGE_VENDOR "kovaevents")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Event-capture add-in for a document-database server, with the kovahost test program")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The kovaevents add-in library writes one Event document per interested connector into "
       "kovaevents.qix for every monitored note change. kovahost runs the add-in on a stand-in "
       "server from YAML scenarios and checks profile documents (--lint) before deployment.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB RPM TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kovaevents developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  # Dependencies from the linked libraries; the stand-in server is the package's own.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      "${PROJECT_BINARY_DIR}/hostsim;${PROJECT_BINARY_DIR}/addin")
  # The same files for RPM-based systems (no build-id links, which the .deb does not have);
  # rpmbuild finds the linked libraries' dependencies, and the stand-in server, which the package
  # holds itself, is not asked of the system.
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE "Proprietary")
  set(CPACK_RPM_PACKAGE_GROUP "Applications/Databases")
  set(CPACK_RPM_PACKAGE_AUTOREQPROV ON)
  set(CPACK_RPM_SPEC_MORE_DEFINE
      "%define _build_id_links none\n%global __requires_exclude ^libqixapi\\.so.*$")
endif()
include(CPack)
