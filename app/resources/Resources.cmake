# What the editor needs beside its program, made or copied at build time, and its installation:
# the demo sound (synthesised by tintwave-cli), the help page with its picture, the desktop
# entry, the MIME types and the icon.
if(NOT TARGET tintwave OR NOT TARGET tintwave-cli)
  return()
endif()
include(GNUInstallDirs)

set(tintwave_app_dir ${CMAKE_BINARY_DIR}/app)
set(tintwave_demo ${tintwave_app_dir}/demo.wav)
add_custom_command(OUTPUT ${tintwave_demo}
  COMMAND tintwave-cli demo --save ${tintwave_demo}
  DEPENDS tintwave-cli
  COMMENT "Synthesising the demo sound")

set(tintwave_help_sources ${CMAKE_SOURCE_DIR}/app/html/VIZoravu.htm ${CMAKE_SOURCE_DIR}/docs/window.png)
set(tintwave_help_outputs)
foreach(f ${tintwave_help_sources})
  if(EXISTS ${f})
    get_filename_component(name ${f} NAME)
    add_custom_command(OUTPUT ${tintwave_app_dir}/html/${name}
      COMMAND ${CMAKE_COMMAND} -E copy ${f} ${tintwave_app_dir}/html/${name}
      DEPENDS ${f})
    list(APPEND tintwave_help_outputs ${tintwave_app_dir}/html/${name})
  endif()
endforeach()
add_custom_target(tintwave_resources ALL DEPENDS ${tintwave_demo} ${tintwave_help_outputs})

install(TARGETS tintwave RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program looks for its help page in html/ beside itself, then in the shared data folder.
install(FILES ${tintwave_help_sources} DESTINATION ${CMAKE_INSTALL_DATADIR}/tintwave/html OPTIONAL)
install(FILES ${tintwave_demo} DESTINATION ${CMAKE_INSTALL_DATADIR}/tintwave)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/tintwave.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/tintwave-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
  RENAME tintwave.xml)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/tintwave.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
