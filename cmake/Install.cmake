# cmake --install: the program in bin/, the logging library and its templates in a private library folder (the
# library finds its templates beside itself), the server list where the program looks for it, the icons and the
# desktop entry.
include(GNUInstallDirs)

set(WAYFOLD_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/quillmere-wayfold)

if(TARGET wayfold)
  file(RELATIVE_PATH libdir_from_bin ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${WAYFOLD_PRIVATE_LIBDIR})
  set_target_properties(wayfold PROPERTIES INSTALL_RPATH "$ORIGIN/${libdir_from_bin}")
  install(TARGETS wayfold RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS scriblet LIBRARY DESTINATION ${WAYFOLD_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/scriblet.Wayfold.cfg ${PROJECT_SOURCE_DIR}/data/scriblet.scriblet.cfg
        DESTINATION ${WAYFOLD_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/Servers.json DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmere-wayfold)
install(FILES ${PROJECT_SOURCE_DIR}/data/wayfold.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/wayfold.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/wayfold.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
