# Windows builds: the version resource of an executable.

# Adds a VERSIONINFO resource to `target` (an executable): file and product version
# major.minor.patch.TESSALY_BUILD_NUMBER from the project version. A build number other than 0
# marks a test build (VS_FF_PRERELEASE), as the version text shows it.
function(tessaly_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(TESSALY_RC_FILE_NAME "${target}")
  set(TESSALY_RC_DESCRIPTION "${description}")
  if(TESSALY_BUILD_NUMBER EQUAL 0)
    set(TESSALY_RC_FILE_FLAGS "0")
  else()
    set(TESSALY_RC_FILE_FLAGS "VS_FF_PRERELEASE")
  endif()
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
