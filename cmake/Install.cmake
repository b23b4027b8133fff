# SPDX-License-Identifier: GPL-2.0-or-later
# Installation in three components, which are also the three Debian packages
# (cpack -G DEB): `program` (malwerk: the paint program with its icons,
# desktop entry and application icon), `runtime` (librkgfx1: the shared
# library) and `dev` (librkgfx-dev: the public header, the static library,
# the .so link, a CMake package and a pkg-config file).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RKGFX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rkgfx)
set(RKGFX_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/rkgfx)
set(MALWERK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/malwerk)

# The program finds its icons and the shared library relative to its own
# executable, so an install under any prefix works without rebuilding.
file(RELATIVE_PATH MALWERK_DATA_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/malwerk)
target_compile_definitions(malwerk_app PRIVATE MALWERK_DATA_FROM_BIN="${MALWERK_DATA_FROM_BIN}")
file(RELATIVE_PATH MALWERK_LIB_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(malwerk PROPERTIES INSTALL_RPATH "$ORIGIN/${MALWERK_LIB_FROM_BIN}")

# The installed static library: the runtime's objects joined into one
# relocatable object whose hidden symbols are made local, so that only the
# public operations can meet the names of the program that links it (which
# may well have its own `mode_info` or `DrawContext`).
set(RKGFX_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
add_custom_command(OUTPUT ${RKGFX_DIST_DIR}/librkgfx.a
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RKGFX_DIST_DIR}
  COMMAND ${CMAKE_LINKER} -r -o ${RKGFX_DIST_DIR}/rkgfx.o $<TARGET_OBJECTS:rkgfx_objects>
  COMMAND ${CMAKE_OBJCOPY} --localize-hidden ${RKGFX_DIST_DIR}/rkgfx.o
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RKGFX_DIST_DIR}/librkgfx.a
  COMMAND ${CMAKE_AR} qcs ${RKGFX_DIST_DIR}/librkgfx.a ${RKGFX_DIST_DIR}/rkgfx.o
  DEPENDS $<TARGET_OBJECTS:rkgfx_objects>
  COMMAND_EXPAND_LISTS VERBATIM)
add_custom_target(rkgfx_dist ALL DEPENDS ${RKGFX_DIST_DIR}/librkgfx.a)

# Runtime: the shared library; development files: the public header, the
# static library and the .so link.
install(TARGETS rkgfx_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
install(TARGETS rkgfx_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev NAMELINK_ONLY)
install(FILES ${RKGFX_DIST_DIR}/librkgfx.a DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES rkgfx.h DESTINATION ${RKGFX_INCLUDE_DIR} COMPONENT dev)

# Program: executable, icons, desktop entry, application icon, manual page.
install(TARGETS malwerk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES gfx/1.bmp gfx/2.bmp gfx/3.bmp gfx/4.bmp gfx/5.bmp gfx/6.bmp gfx/7.bmp
  DESTINATION ${MALWERK_DATA_DIR}/gfx COMPONENT program)
install(FILES app/malwerk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES app/malwerk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES app/malwerk.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT program)

# Every package carries the licence as a Debian copyright file.
set(CPACK_PACKAGE_CONTACT "Malwerk developers <malwerk@localhost>")
configure_file(cmake/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
foreach(package malwerk:program librkgfx1:runtime librkgfx-dev:dev)
  string(REPLACE ":" ";" package ${package})
  list(GET package 0 name)
  list(GET package 1 component)
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component})
endforeach()

# Whoever links the static library needs every library it links itself.
# rkgfx_flatten turns one link item into linker arguments (-lNAME, -LDIR,
# flags), following imported targets down to their libraries. With
# keep_threads, Threads::Threads stays a target (the CMake package finds
# Threads again); otherwise it is followed like any other.
function(rkgfx_flatten item keep_threads libs_var)
  set(libs ${${libs_var}})
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
        rkgfx_flatten(${location} ${keep_threads} libs)
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
        rkgfx_flatten(${dep} ${keep_threads} libs)
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
endfunction()

# Runs once the whole project has been read, so that link libraries added
# to the runtime anywhere (and after this file) are part of the installed
# package.
function(rkgfx_write_package_files)
  get_target_property(items rkgfx_objects LINK_LIBRARIES)
  set(cmake_libs "")
  set(pc_libs "")
  foreach(item IN LISTS items)
    rkgfx_flatten(${item} ON cmake_libs)
    rkgfx_flatten(${item} OFF pc_libs)
  endforeach()
  list(REMOVE_DUPLICATES cmake_libs)
  list(REMOVE_DUPLICATES pc_libs)

  set(RKGFX_LINK_LIBRARIES "${cmake_libs}")
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/rkgfxConfig.cmake.in
    ${CMAKE_BINARY_DIR}/rkgfxConfig.cmake
    INSTALL_DESTINATION ${RKGFX_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_LIBDIR RKGFX_INCLUDE_DIR)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/rkgfxConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

  # The library is C++: a C program linking it statically needs the C++
  # library as well.
  list(JOIN pc_libs " " RKGFX_PC_LIBS_PRIVATE)
  string(APPEND RKGFX_PC_LIBS_PRIVATE " -lstdc++")
  file(RELATIVE_PATH RKGFX_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" RKGFX_PC_PREFIX "${RKGFX_PC_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/rkgfx.pc.in ${CMAKE_BINARY_DIR}/rkgfx.pc @ONLY)

  # The development package depends on the development packages of the
  # libraries the static library links: the packages owning their .so links.
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
  list(JOIN dev_packages ", " depends)
  file(WRITE ${CMAKE_BINARY_DIR}/CPackDebDepends.cmake
    "set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS \"librkgfx1 (= ${PROJECT_VERSION}), ${depends}\")\n")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL rkgfx_write_package_files)

install(FILES ${CMAKE_BINARY_DIR}/rkgfxConfig.cmake ${CMAKE_BINARY_DIR}/rkgfxConfigVersion.cmake
  DESTINATION ${RKGFX_CMAKE_DIR} COMPONENT dev)
install(FILES ${CMAKE_BINARY_DIR}/rkgfx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages, one per component. librkgfx1's run-time dependencies come
# from dpkg-shlibdeps; malwerk needs nothing beyond the library's package.
set(CPACK_PACKAGE_NAME malwerk)
set(CPACK_PACKAGE_VENDOR "Malwerk")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME malwerk)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "librkgfx1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "small paint program
 Malwerk paints on a white canvas with pen, brush, bucket, lines, dashed
 lines, rectangles and text in 18 colours, with undo, and saves and loads
 the picture as a Windows bitmap or PNG.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME librkgfx1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "software graphics runtime
 rkgfx keeps a screen in memory with pages and dirty lines, draws lines,
 ellipses, fills, images and text into it in software, reads and writes
 bitmap and PNG files, and shows it through X11, OpenGL or the Linux
 framebuffer. This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME librkgfx-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "software graphics runtime - development files
 rkgfx keeps a screen in memory with pages and dirty lines, draws into it
 in software and shows it through X11, OpenGL or the Linux framebuffer.
 This package holds the C header, the static library, a CMake package and
 a pkg-config file.")

set(CPACK_STRIP_FILES bin/malwerk)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebDepends.cmake)
include(CPack)
