# Install.cmake: the installed layout, its run-paths, and the packages that
# CPack makes from it (the Debian package, the Windows zip).  One set of
# install rules serves `cmake --install`, LuaRocks, the .deb and the zip.
include(GNUInstallDirs)

if(WIN32)
  # A Windows user gets one folder: the programs with the DLLs beside them,
  # where Windows finds a program's DLLs and require finds modules.
  set(OVREL_LUA_MODULE_DIR "." CACHE STRING "Folder of the module numhash under the prefix")
  install(TARGETS ovrelrun ovrelglue ovrel RUNTIME DESTINATION .
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
  install(TARGETS numhash LIBRARY DESTINATION ${OVREL_LUA_MODULE_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/examples/wordfreq.lua DESTINATION examples)
  # Notepad and the console expect CRLF line ends.
  if(OVREL_WINDOWS_ARCH STREQUAL "x86_64")
    set(OVREL_WINDOWS_BITS 64)
    set(OVREL_WINDOWS_RUNS_ON "they run on\n64-bit Windows only, and load only modules built for 64-bit Windows.")
  else()
    set(OVREL_WINDOWS_BITS 32)
    set(OVREL_WINDOWS_RUNS_ON "they run\non 32-bit and 64-bit Windows alike.")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-readme.txt ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-${OVREL_WINDOWS_ARCH})
  set(CPACK_STRIP_FILES ON)  # symbols are of no use to a user and most of each file
  include(CPack)
  return()
endif()

set(OVREL_LUA_MODULE_DIR "lib/lua/${OVREL_LUA}" CACHE STRING
  "Folder of the module numhash under the prefix: one on the interpreter's package.cpath")
set(OVREL_RUNTIME_DEPLOYED_DIR ${CMAKE_INSTALL_LIBDIR} CACHE STRING
  "Folder under the prefix where the runtime library ends up, when a package manager moves it after the install (LuaRocks)")
set(OVREL_MODULE_DEPLOYED_DIR ${OVREL_LUA_MODULE_DIR} CACHE STRING
  "Folder under the prefix where the module numhash ends up, when a package manager moves it after the install (LuaRocks)")
option(OVREL_INSTALL_DEVELOPMENT "Install the headers and the files for building modules against the runtime" ON)

if(OVREL_REFERENCE_ENGINE)
  install(TARGETS ovrelrun ovrelrun-standalone ovrelglue RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # ovrel.app for the stock interpreter, so a program runs unglued as glued.
  install(TARGETS ovrel_app LIBRARY DESTINATION ${OVREL_LUA_MODULE_DIR}/ovrel)
endif()
if(OVREL_INSTALL_DEVELOPMENT)
  install(TARGETS ovrel EXPORT ovrelTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovrel)
else()
  install(TARGETS ovrel LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
endif()
install(TARGETS numhash LIBRARY DESTINATION ${OVREL_LUA_MODULE_DIR})

# Run-paths name folders relative to the file itself ($ORIGIN), first its
# own folder, where a shipped program keeps the runtime beside it, then the
# installed library folder.  So an install works wherever it is put
# (--prefix, DESTDIR) and nothing depends on a folder fixed at configure
# time.  The build tree uses the same run-paths (its files share one
# folder), so CMake pads nothing to rewrite at install: a padded run-path
# ends in empty entries, which the loader reads as the current folder.  The
# standalone launcher and the tool need no run-path at all.
function(ovrel_rpath target from to)
  cmake_path(ABSOLUTE_PATH from BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} NORMALIZE)
  cmake_path(ABSOLUTE_PATH to BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} NORMALIZE)
  file(RELATIVE_PATH up ${from} ${to})
  string(REGEX REPLACE "/$" "" up "${up}")
  set(rpath "$ORIGIN")
  if(NOT up STREQUAL "")
    list(APPEND rpath "$ORIGIN/${up}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}" BUILD_WITH_INSTALL_RPATH ON)
endfunction()
ovrel_rpath(numhash ${OVREL_LUA_MODULE_DIR} ${CMAKE_INSTALL_LIBDIR})
set_target_properties(ovrel PROPERTIES INSTALL_RPATH "" BUILD_WITH_INSTALL_RPATH ON)

if(OVREL_REFERENCE_ENGINE)
  ovrel_rpath(ovrelrun ${CMAKE_INSTALL_BINDIR} ${OVREL_RUNTIME_DEPLOYED_DIR})
  set_target_properties(ovrel_app ovrelrun-standalone ovrelglue PROPERTIES
    INSTALL_RPATH "" BUILD_WITH_INSTALL_RPATH ON)
  # The tool finds native modules for --with-deps beside itself (the build
  # tree) and in the folder where the module ends up, relative to itself.
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
             NORMALIZE OUTPUT_VARIABLE bin_full_dir)
  cmake_path(ABSOLUTE_PATH OVREL_MODULE_DEPLOYED_DIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
             NORMALIZE OUTPUT_VARIABLE module_full_dir)
  file(RELATIVE_PATH bin_to_module ${bin_full_dir} ${module_full_dir})
  target_compile_definitions(ovrelglue_parts PRIVATE OVRELGLUE_MODULE_DIR="${bin_to_module}")
endif()

if(NOT OVREL_INSTALL_DEVELOPMENT)
  return()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/host/ovrel.h ${PROJECT_SOURCE_DIR}/host/srglue.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovrel)

# For a third party's own module: pkg-config's ovrel and CMake's
# find_package(ovrel), which gives the target ovrel::ovrel.  Such a module
# links the runtime and leaves lua_* to the process, as numhash does.  Both
# find the prefix from their own place, so they move with the install.
# Each engine has its own: ovrel-5.4.pc and find_package(ovrel-5.4) compile
# for Lua 5.4; ovrel (and ovrel-5.1.pc) for 5.1.
if(OVREL_REFERENCE_ENGINE)
  set(ovrel_package ovrel)
  set(ovrel_pc_cflags "")
else()
  set(ovrel_package ovrel-${OVREL_LUA})
  set(ovrel_pc_cflags " -DOVREL_LUA=${OVREL_LUA_NUM}")
endif()
get_target_property(ovrel_runtime_name ovrel OUTPUT_NAME)
if(NOT ovrel_runtime_name)
  set(ovrel_runtime_name ovrel)
endif()
cmake_path(ABSOLUTE_PATH OVREL_LUA_MODULE_DIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
           NORMALIZE OUTPUT_VARIABLE ovrel_module_full_dir)
file(RELATIVE_PATH ovrel_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH ovrel_prefix_to_lib ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH ovrel_prefix_to_include ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
file(RELATIVE_PATH ovrel_prefix_to_module ${CMAKE_INSTALL_PREFIX} ${ovrel_module_full_dir})
configure_file(${CMAKE_CURRENT_LIST_DIR}/ovrel.pc.in ${CMAKE_BINARY_DIR}/ovrel-${OVREL_LUA}.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ovrel-${OVREL_LUA}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(OVREL_REFERENCE_ENGINE)
  install(FILES ${CMAKE_BINARY_DIR}/ovrel-${OVREL_LUA}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          RENAME ovrel.pc)
endif()

include(CMakePackageConfigHelpers)
set(ovrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${ovrel_package})
install(EXPORT ovrelTargets NAMESPACE ovrel:: DESTINATION ${ovrel_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ovrelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/${ovrel_package}Config.cmake INSTALL_DESTINATION ${ovrel_cmake_dir}
  PATH_VARS OVREL_LUA_MODULE_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/${ovrel_package}ConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/${ovrel_package}Config.cmake
              ${CMAKE_BINARY_DIR}/${ovrel_package}ConfigVersion.cmake
        DESTINATION ${ovrel_cmake_dir})

# The Debian package (scripts/package.sh configures the prefix /usr and
# Debian's module folder).  Its dependencies come from the binaries:
# liblua5.1-0 through ovrelrun, the only one of ours that links the engine.
# It carries what the builds for the other engines install too: their
# build folders, listed in OVREL_PACKAGE_ENGINE_BUILDS.
set(OVREL_PACKAGE_ENGINE_BUILDS "" CACHE STRING
  "Build folders of other engines whose install goes into this build's package")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
foreach(build ${OVREL_PACKAGE_ENGINE_BUILDS})
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${build};${PROJECT_NAME};ALL;/")
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "Ovrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Ovrel number-keyed map module and self-running script launcher")
set(CPACK_PACKAGE_DESCRIPTION "The module numhash for Lua 5.1 (and LuaJIT), 5.2, 5.3 and 5.4,
and the launcher ovrelrun with its tool ovrelglue, which run Lua 5.1.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
