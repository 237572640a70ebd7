# The application: its three source folders, built against the platform's public API only.
#
#   vantrel_app  the application code without the process entry, for in-process tests
#   Vantrel      the executable, in the build directory's root, with its resource file

set(VT_APP_COMMON "${CMAKE_SOURCE_DIR}/Common Files")
set(VT_APP_APPLICATION "${CMAKE_SOURCE_DIR}/Application Files")
set(VT_APP_LAB "${CMAKE_SOURCE_DIR}/Completed Lab")

set(VT_APP_SHARED_SOURCES
  "${VT_APP_COMMON}/ComFramework.cpp"
  "${VT_APP_COMMON}/QTUtilities.cpp"
  "${VT_APP_APPLICATION}/ComApplication.cpp"
  "${VT_APP_LAB}/Vantrel.cpp")

function(vt_application_target target)
  target_include_directories(${target} PUBLIC
    "${VT_APP_COMMON}" "${VT_APP_APPLICATION}" "${VT_APP_LAB}" "${VT_PUBLIC_INCLUDE}")
  target_link_libraries(${target} PUBLIC vt_platform)
endfunction()

add_library(vantrel_app_objects OBJECT ${VT_APP_SHARED_SOURCES})
target_include_directories(vantrel_app_objects PRIVATE
  "${VT_APP_COMMON}" "${VT_APP_APPLICATION}" "${VT_APP_LAB}" "${VT_PUBLIC_INCLUDE}")

# The shell's source is compiled twice: with the process entry for the executable, without it
# for the library the tests link.
add_library(vantrel_app STATIC
  $<TARGET_OBJECTS:vantrel_app_objects> "${VT_APP_COMMON}/MacFramework.cpp")
target_compile_definitions(vantrel_app PRIVATE VANTREL_APP_LIBRARY)
vt_application_target(vantrel_app)

add_executable(Vantrel
  $<TARGET_OBJECTS:vantrel_app_objects> "${VT_APP_COMMON}/MacFramework.cpp")
vt_application_target(Vantrel)
set_target_properties(Vantrel PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")

add_custom_command(TARGET Vantrel POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${VT_APP_APPLICATION}/Vantrel.rsrc.json"
          "${CMAKE_BINARY_DIR}/Vantrel.rsrc.json"
  VERBATIM)
