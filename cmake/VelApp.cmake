# vel_app_resources(<target> <internal name> <description> [extra .rc text])
# Adds the version resource and the application manifest to an executable.
# The extra text usually includes an artwork/*.rc; its pictures are found
# through the artwork folder and rebuild the resources when they change.
function(vel_app_resources target name description)
  set(VEL_INTERNAL_NAME ${name})
  set(VEL_FILE_DESCRIPTION ${description})
  set(VEL_RC_EXTRA "${ARGN}")
  set(out ${CMAKE_BINARY_DIR}/generated/${name}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/app.rc.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/artwork)
  file(GLOB art CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/artwork/*.rc ${CMAKE_SOURCE_DIR}/artwork/*.h
       ${CMAKE_SOURCE_DIR}/artwork/*.bmp ${CMAKE_SOURCE_DIR}/artwork/*.ico)
  set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS "${art}")
endfunction()
