# SPDX-License-Identifier: GPL-2.0-or-later
# Installation: the runtime as a static library with its headers, a CMake
# package and a pkg-config file; the paint program with its icons, desktop
# entry and application icon; and a Debian package of both (cpack -G DEB).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RKGFX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rkgfx)
set(RKGFX_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/rkgfx)
set(MALWERK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/malwerk)

# The program finds its icons relative to its own executable, so an install
# under any prefix works without rebuilding.
file(RELATIVE_PATH MALWERK_DATA_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/malwerk)
target_compile_definitions(malwerk_app PRIVATE MALWERK_DATA_FROM_BIN="${MALWERK_DATA_FROM_BIN}")

# Runtime: library, every header under gfx/ and rt/ with its module path,
# and the umbrella header.
install(TARGETS rkgfx ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY gfx rt DESTINATION ${RKGFX_INCLUDE_DIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(FILES rkgfx.h DESTINATION ${RKGFX_INCLUDE_DIR} COMPONENT dev)

# Program: executable, icons, desktop entry, application icon, manual page.
install(TARGETS malwerk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES gfx/1.bmp gfx/2.bmp gfx/3.bmp gfx/4.bmp gfx/5.bmp gfx/6.bmp gfx/7.bmp
  DESTINATION ${MALWERK_DATA_DIR}/gfx COMPONENT program)
install(FILES app/malwerk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES app/malwerk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES app/malwerk.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT program)

# rkgfx is static, so whoever links it needs every library it links itself.
# rkgfx_flatten turns one link item into linker arguments (-lNAME, -LDIR,
# flags), following imported targets down to their libraries, and collects
# the include directories they bring. With keep_threads, Threads::Threads
# stays a target (the CMake package finds Threads again); otherwise it is
# followed like any other.
function(rkgfx_flatten item keep_threads libs_var incs_var)
  set(libs ${${libs_var}})
  set(incs ${${incs_var}})
  if(item MATCHES "^\\$<LINK_ONLY:(.*)>$")
    set(item ${CMAKE_MATCH_1})
  endif()
  if(item STREQUAL "Threads::Threads" AND keep_threads)
    list(APPEND libs Threads::Threads)
  elseif(TARGET ${item})
    get_target_property(imported ${item} IMPORTED)
    if(NOT imported)
      # The examples' build against a staged install shows what goes missing.
      message(WARNING "rkgfx links the project target ${item}, which the installed package leaves out")
      return()
    endif()
    get_target_property(type ${item} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(location ${item} IMPORTED_LOCATION)
      if(location)
        rkgfx_flatten(${location} ${keep_threads} libs incs)
      endif()
    endif()
    get_target_property(dirs ${item} INTERFACE_LINK_DIRECTORIES)
    foreach(dir IN LISTS dirs)
      if(dir AND NOT dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
        list(APPEND libs -L${dir})
      endif()
    endforeach()
    get_target_property(deps ${item} INTERFACE_LINK_LIBRARIES)
    foreach(dep IN LISTS deps)
      if(dep)
        rkgfx_flatten(${dep} ${keep_threads} libs incs)
      endif()
    endforeach()
    get_target_property(dirs ${item} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS dirs)
      if(dir AND NOT dir IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
        list(APPEND incs ${dir})
      endif()
    endforeach()
  elseif(IS_ABSOLUTE "${item}")
    get_filename_component(dir ${item} DIRECTORY)
    get_filename_component(file ${item} NAME)
    if(NOT dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
      list(APPEND libs -L${dir})
    endif()
    if(file MATCHES "^lib(.+)\\.so(\\..*)?$")
      list(APPEND libs -l${CMAKE_MATCH_1})
    else()
      list(APPEND libs -l:${file})
    endif()
  elseif(item MATCHES "^-")
    list(APPEND libs ${item})
  else()
    list(APPEND libs -l${item})
  endif()
  set(${libs_var} ${libs} PARENT_SCOPE)
  set(${incs_var} ${incs} PARENT_SCOPE)
endfunction()

# Runs once the whole project has been read, so that link libraries added
# to rkgfx anywhere (and after this file) are part of the installed package.
function(rkgfx_write_package_files)
  get_target_property(items rkgfx LINK_LIBRARIES)
  set(cmake_libs "")
  set(cmake_incs "")
  set(pc_libs "")
  set(pc_incs "")
  foreach(item IN LISTS items)
    rkgfx_flatten(${item} ON cmake_libs cmake_incs)
    rkgfx_flatten(${item} OFF pc_libs pc_incs)
  endforeach()
  list(REMOVE_DUPLICATES cmake_libs)
  list(REMOVE_DUPLICATES cmake_incs)
  list(REMOVE_DUPLICATES pc_libs)
  list(REMOVE_DUPLICATES pc_incs)

  set(RKGFX_LINK_LIBRARIES "${cmake_libs}")
  set(RKGFX_DEP_INCLUDE_DIRS "${cmake_incs}")
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/rkgfxConfig.cmake.in
    ${CMAKE_BINARY_DIR}/rkgfxConfig.cmake
    INSTALL_DESTINATION ${RKGFX_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_LIBDIR RKGFX_INCLUDE_DIR)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/rkgfxConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

  list(TRANSFORM pc_incs PREPEND -I)
  list(JOIN pc_libs " " RKGFX_PC_LIBS)
  list(JOIN pc_incs " " RKGFX_PC_CFLAGS)
  file(RELATIVE_PATH RKGFX_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" RKGFX_PC_PREFIX "${RKGFX_PC_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/rkgfx.pc.in ${CMAKE_BINARY_DIR}/rkgfx.pc @ONLY)

  # Whoever builds against the installed runtime needs the development
  # files of the libraries it links; the package suggests their packages.
  set(dev_packages "")
  find_program(DPKG dpkg)
  foreach(lib IN LISTS pc_libs)
    if(DPKG AND lib MATCHES "^-l([^:].*)$")
      find_library(RKGFX_DEP_${CMAKE_MATCH_1} ${CMAKE_MATCH_1})
      execute_process(COMMAND ${DPKG} -S ${RKGFX_DEP_${CMAKE_MATCH_1}}
        OUTPUT_VARIABLE owner ERROR_QUIET RESULT_VARIABLE failed)
      if(NOT failed AND owner MATCHES "^([^:,]+)")
        list(APPEND dev_packages ${CMAKE_MATCH_1})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES dev_packages)
  list(JOIN dev_packages ", " suggests)
  file(WRITE ${CMAKE_BINARY_DIR}/CPackDebSuggests.cmake "set(CPACK_DEBIAN_PACKAGE_SUGGESTS \"${suggests}\")\n")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL rkgfx_write_package_files)

install(FILES ${CMAKE_BINARY_DIR}/rkgfxConfig.cmake ${CMAKE_BINARY_DIR}/rkgfxConfigVersion.cmake
  DESTINATION ${RKGFX_CMAKE_DIR} COMPONENT dev)
install(FILES ${CMAKE_BINARY_DIR}/rkgfx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian package: the program and the runtime in one. The libraries the
# program needs at run time come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME malwerk)
set(CPACK_PACKAGE_VENDOR "Malwerk")
set(CPACK_PACKAGE_CONTACT "Malwerk developers <malwerk@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small paint program and its software graphics runtime")
set(CPACK_PACKAGE_DESCRIPTION "Malwerk paints on a white canvas with pen, brush, bucket, lines, dashed lines,\n\
rectangles and text in 18 colours, with undo, and saves and loads the picture\n\
as a Windows bitmap or PNG. The package also holds\n\
rkgfx, the software graphics runtime it is built on, as a static library with\n\
headers, a CMake package and a pkg-config file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES bin/malwerk)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebSuggests.cmake)
include(CPack)
