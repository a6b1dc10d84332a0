# Installation and packaging: the libraries with their headers, the CMake package
# (find_package(zv CONFIG) gives zv::zv, zv::zv_static, zv::cli and zv_add_bytecode), the
# pkg-config file, the man pages (when scdoc is found), the bash completions, and CPack.
include(CMakePackageConfigHelpers)

set(ZV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zv)

install(TARGETS zvcore zvshared EXPORT zvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Unspecified
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${ZV_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT zvTargets NAMESPACE zv:: DESTINATION ${ZV_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zvConfig.cmake
  INSTALL_DESTINATION ${ZV_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zvConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zvConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zvConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/ZvBytecode.cmake
        DESTINATION ${ZV_CMAKE_DIR})

# The pkg-config file finds its prefix from where it lies, so the tree can be moved.
file(RELATIVE_PATH ZV_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ZV_PC_TO_PREFIX "${ZV_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/zv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zv.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Man pages, from the scdoc sources in docs/man.
find_program(ZV_SCDOC scdoc)
if(ZV_SCDOC)
  set(ZV_MAN_PAGES)
  foreach(page zvc zvdis zv)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${ZV_SCDOC} < ${source} > ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND ZV_MAN_PAGES ${output})
  endforeach()
  add_custom_target(zvman ALL DEPENDS ${ZV_MAN_PAGES})
  install(FILES ${ZV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: the man pages are not built")
endif()

foreach(tool zv zvdis)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/${tool}.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${tool})
endforeach()

set(CPACK_PACKAGE_NAME zv)
set(CPACK_PACKAGE_VENDOR "zv")
set(CPACK_PACKAGE_CONTACT "zv maintainers <zv@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Compiler of the zv scripting language to byte code, its library and tools")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
include(CPack)
