# Installation and packaging: the libraries with their headers, the CMake package
# (find_package(zv CONFIG) gives zv::zv, zv::zv_static, zv::cli and zv_add_bytecode), the
# pkg-config file, the man pages (when scdoc is found), the bash completions, the guides,
# and CPack. Every file belongs to one of three components, which are the three Debian
# packages: lib (libzv1: the shared library), dev (libzv-dev: headers, static library,
# CMake and pkg-config files, the host author's guide) and tools (zv: zvc, zvdis, zv, man
# pages, completions, the user guides).
include(CMakePackageConfigHelpers)

set(ZV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zv)

install(TARGETS zvcore zvshared EXPORT zvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${ZV_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT zvTargets NAMESPACE zv:: DESTINATION ${ZV_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zvConfig.cmake
  INSTALL_DESTINATION ${ZV_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zvConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zvConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zvConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/ZvBytecode.cmake
        DESTINATION ${ZV_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds its prefix from where it lies, so the tree can be moved.
file(RELATIVE_PATH ZV_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ZV_PC_TO_PREFIX "${ZV_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/zv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zv.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

# Man pages, from the scdoc sources in docs/man, installed compressed.
find_program(ZV_SCDOC scdoc)
find_program(ZV_GZIP gzip)
if(ZV_SCDOC AND ZV_GZIP)
  set(ZV_MAN_PAGES)
  foreach(page zvc zvdis zv)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${output} ${output}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${ZV_SCDOC} < ${source} > ${output}
      COMMAND ${ZV_GZIP} -9n -c ${output} > ${output}.gz
      DEPENDS ${source} VERBATIM)
    list(APPEND ZV_MAN_PAGES ${output}.gz)
  endforeach()
  add_custom_target(zvman ALL DEPENDS ${ZV_MAN_PAGES})
  install(FILES ${ZV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
else()
  message(STATUS "scdoc or gzip not found: the man pages are not built")
endif()

# bash-completion loads these on demand (the package bash-completion must be installed).
foreach(tool zv zvdis zvc)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/${tool}.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${tool}
          COMPONENT tools)
endforeach()

# The guides: the language, zv check's diagnostics and the editors for users; embedding
# the library for host authors.
set(ZV_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zv)
install(FILES ${PROJECT_SOURCE_DIR}/docs/language.md ${PROJECT_SOURCE_DIR}/docs/diagnostics.md
              ${PROJECT_SOURCE_DIR}/docs/editors.md
        DESTINATION ${ZV_DOC_DIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/docs/embedding.md DESTINATION ${ZV_DOC_DIR} COMPONENT dev)

# Debian packages: libzv1, libzv-dev and zv, each with its copyright file and changelog.
set(ZV_PACKAGE_MAINTAINER "zv maintainers <maintainers@users.noreply.c-seed-2bc994a0.example>"
    CACHE STRING "The maintainer named in the Debian packages")
set(ZV_DEB_RELEASE 1)
set(ZV_DEB_PACKAGES libzv1 libzv-dev zv)
set(ZV_DEB_COMPONENTS lib dev tools)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
if(ZV_GZIP)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND ${ZV_GZIP} -9n -c ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian
            > ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian VERBATIM)
  add_custom_target(zvchangelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
  foreach(package component IN ZIP_LISTS ZV_DEB_PACKAGES ZV_DEB_COMPONENTS)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
                  ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()
# The shared library's package tells the dynamic linker's cache to be rebuilt.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")

set(CPACK_PACKAGE_NAME zv)
set(CPACK_PACKAGE_VENDOR "zv")
set(CPACK_PACKAGE_CONTACT "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compiler of the zv scripting language to byte code")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZV_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zv.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libzv1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "compiler of the zv scripting language (shared library)
The zv language is a small, line-oriented scripting language compiled to
compact byte code for a stack-based virtual machine. This package holds
the shared library libzv.so.1, which compiles programs in memory for
host applications through a C API and a C++ API.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzv-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libzv1 (= ${PROJECT_VERSION}-${ZV_DEB_RELEASE}), libstdc++-12-dev | libstdc++-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "compiler of the zv scripting language (development files)
The zv language is a small, line-oriented scripting language compiled to
compact byte code for a stack-based virtual machine. This package holds
what host applications are built with: the headers zv.h (C) and zv.hpp
(C++), the static library, the CMake package with zv_add_bytecode, the
pkg-config file and the host author's guide.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zv)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "compiler of the zv scripting language (command-line tools)
The zv language is a small, line-oriented scripting language compiled to
compact byte code for a stack-based virtual machine. This package holds
zvc, the compiler; zvdis, which lists and verifies byte code; and zv,
which checks programs with located diagnostics, builds them with
dependency files and serves editors as a language server.")
include(CPack)
