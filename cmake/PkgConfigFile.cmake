# wayfold_pkg_config_file(<template> <output>): configures a pkg-config file whose prefix is found from where the
# file is installed, <prefix>/<libdir>/pkgconfig, so that the installed tree can move; @PC_PREFIX@, @PC_LIBDIR@
# and @PC_INCLUDEDIR@ are right for a library folder of any depth (lib, lib64, lib/x86_64-linux-gnu) and for
# absolute folders, which do not move.
#
# Also runs as a script: cmake -DTEMPLATE=... -DOUTPUT=... -DCMAKE_INSTALL_LIBDIR=... -DCMAKE_INSTALL_INCLUDEDIR=...
# -DPROJECT_VERSION=... -P PkgConfigFile.cmake
function(wayfold_pkg_config_file template output)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
      set(PC_${kind} "${CMAKE_INSTALL_${kind}}")
    else()
      set(PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
  endforeach()
  configure_file(${template} ${output} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  wayfold_pkg_config_file(${TEMPLATE} ${OUTPUT})
endif()
