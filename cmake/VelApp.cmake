# vel_program_version(<target> <major.minor.revision>)
# Builds the version into the program: ClientVersionText() and its version
# resource. Every other object is shared between versions.
function(vel_program_version target version)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "vel_program_version(${target}): '${version}' is not major.minor.revision")
  endif()
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/programversion.cpp)
  target_compile_definitions(${target} PRIVATE VELBOX_PROGRAM_VERSION_MAJOR=${CMAKE_MATCH_1}
                             VELBOX_PROGRAM_VERSION_MINOR=${CMAKE_MATCH_2} VELBOX_PROGRAM_VERSION_REVISION=${CMAKE_MATCH_3})
  set_property(TARGET ${target} PROPERTY VEL_PROGRAM_VERSION ${version})
endfunction()

# vel_app_resources(<target> <internal name> <description> [extra .rc text])
# Adds the version resource (the version vel_program_version gave the
# target, else the build's) and the application manifest to an executable.
# The extra text usually includes an artwork/*.rc; its pictures are found
# through the artwork folder and rebuild the resources when they change.
function(vel_app_resources target name description)
  get_property(version TARGET ${target} PROPERTY VEL_PROGRAM_VERSION)
  if(NOT version)
    set(version ${VELBOX_VERSION})
  endif()
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 VELBOX_VERSION_MAJOR)
  list(GET parts 1 VELBOX_VERSION_MINOR)
  list(GET parts 2 VELBOX_VERSION_PATCH)
  set(VELBOX_VERSION ${version})
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
