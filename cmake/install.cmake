# `make install` (or `cmake --install BUILD`): the application with its resource file, every
# command-line tool, the desktop entry with its MIME types, and the icons. Honours
# CMAKE_INSTALL_PREFIX and DESTDIR.
#
#   bin/Vantrel, bin/<tool>                           the programs
#   share/vantrel/Vantrel.rsrc.json                   found from bin/ as ../share/vantrel
#   share/applications/vantrel.desktop                menus and "Open with"
#   share/icons/hicolor/{256x256,scalable}/apps/      vantrel.png (drawn at build time), .svg
include(GNUInstallDirs)

install(TARGETS Vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES "${VT_APP_APPLICATION}/Vantrel.rsrc.json"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vantrel)

# Every program a folder under tools/ builds, so tools added later are installed too.
file(GLOB vt_tool_dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tools/*)
foreach(dir ${vt_tool_dirs})
  if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
      endif()
    endforeach()
  endif()
endforeach()

# The icon is drawn by our own code (the shapes of the SVG), never kept as a picture.
add_executable(vt_make_icon ${CMAKE_SOURCE_DIR}/data/make_icon.cpp)
target_link_libraries(vt_make_icon PRIVATE vt_core)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/data/vantrel.png
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data
  COMMAND vt_make_icon ${CMAKE_BINARY_DIR}/data/vantrel.png
  DEPENDS vt_make_icon VERBATIM)
add_custom_target(vt_icon ALL DEPENDS ${CMAKE_BINARY_DIR}/data/vantrel.png)

install(FILES ${CMAKE_SOURCE_DIR}/data/vantrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/data/vantrel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/vantrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# A real install (no DESTDIR) tells the desktop about the new entry and icon at once.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    find_program(vt_update_desktop update-desktop-database)
    find_program(vt_update_icons gtk-update-icon-cache)
    if(vt_update_desktop)
      execute_process(COMMAND ${vt_update_desktop} -q "${CMAKE_INSTALL_PREFIX}/share/applications")
    endif()
    if(vt_update_icons)
      execute_process(COMMAND ${vt_update_icons} -q -t -f "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor")
    endif()
  endif()
]])
