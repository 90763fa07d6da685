# cmake --install for the desktop program: the program in bin/ (it finds the logging library, installed with its
# templates by scriblet/, in the library folder), the server list where the program looks for it, the icons
# and the desktop entry.
include(GNUInstallDirs)

if(TARGET wayfold)
  file(RELATIVE_PATH libdir_from_bin ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(wayfold PROPERTIES INSTALL_RPATH "$ORIGIN/${libdir_from_bin}")
  install(TARGETS wayfold RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${WAYFOLD_PROGRAM_PERMISSIONS})
endif()
# The server list names no server: the deployment writes its servers there.
install(FILES ${PROJECT_SOURCE_DIR}/data/Servers.json DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmere-wayfold
        PERMISSIONS ${WAYFOLD_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/data/wayfold.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        PERMISSIONS ${WAYFOLD_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/wayfold.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps PERMISSIONS ${WAYFOLD_FILE_PERMISSIONS})
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/wayfold.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps PERMISSIONS ${WAYFOLD_FILE_PERMISSIONS})
