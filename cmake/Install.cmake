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
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-readme.txt ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-i686)
  set(CPACK_STRIP_FILES ON)  # symbols are of no use to a user and most of each file
  include(CPack)
  return()
endif()

set(OVREL_LUA_MODULE_DIR "lib/lua/5.1" CACHE STRING
  "Folder of the module numhash under the prefix: one on the interpreter's package.cpath")

install(TARGETS ovrelrun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ovrelglue)
  install(TARGETS ovrelglue RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ovrel EXPORT ovrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovrel)
install(TARGETS numhash LIBRARY DESTINATION ${OVREL_LUA_MODULE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/host/ovrel.h ${PROJECT_SOURCE_DIR}/launcher/srglue.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovrel)

# Run-paths of the installed tree.  The module finds the runtime relative
# to itself, so the tree may move.  The launcher's image is copied into
# programs that live anywhere on the machine: it names the library folder
# absolutely, after its own folder, where a shipped program keeps the
# runtime.  The absolute folder also serves the module once LuaRocks has
# moved it out of its tree.  System library folders need no run-path.
cmake_path(ABSOLUTE_PATH OVREL_LUA_MODULE_DIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
           NORMALIZE OUTPUT_VARIABLE ovrel_module_full_dir)
set(ovrel_system_libdirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
    ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST ovrel_system_libdirs)
  file(RELATIVE_PATH module_to_lib ${ovrel_module_full_dir} ${CMAKE_INSTALL_FULL_LIBDIR})
  string(REGEX REPLACE "(.)/$" "\\1" module_to_lib "$ORIGIN/${module_to_lib}")
  set_target_properties(numhash PROPERTIES
    INSTALL_RPATH "${module_to_lib};${CMAKE_INSTALL_FULL_LIBDIR}")
  set_target_properties(ovrelrun PROPERTIES
    INSTALL_RPATH "$ORIGIN;${CMAKE_INSTALL_FULL_LIBDIR}")
endif()

# For a third party's own module: pkg-config's ovrel and CMake's
# find_package(ovrel), which gives the target ovrel::ovrel.  Such a module
# links the runtime and leaves lua_* to the process, as numhash does.
configure_file(${CMAKE_CURRENT_LIST_DIR}/ovrel.pc.in ${CMAKE_BINARY_DIR}/ovrel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ovrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

include(CMakePackageConfigHelpers)
set(ovrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ovrel)
install(EXPORT ovrelTargets NAMESPACE ovrel:: DESTINATION ${ovrel_cmake_dir})
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/ovrelConfig.cmake @ONLY CONTENT [[
# ovrelConfig.cmake: the target ovrel::ovrel, the runtime interface and library.
include("${CMAKE_CURRENT_LIST_DIR}/ovrelTargets.cmake")
set(OVREL_LUA_MODULE_DIR "@ovrel_module_full_dir@")
]])
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ovrelConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ovrelConfig.cmake ${CMAKE_BINARY_DIR}/ovrelConfigVersion.cmake
        DESTINATION ${ovrel_cmake_dir})

# The Debian package (scripts/package.sh configures the prefix /usr and
# Debian's module folder).  Its dependencies come from the binaries:
# liblua5.1-0 through ovrelrun, the only one of ours that links the engine.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "Ovrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Ovrel number-keyed map module and self-running script launcher")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
