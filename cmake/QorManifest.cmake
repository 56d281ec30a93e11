# qor_add_manifest(<target> NAME <assembly name> DESCRIPTION <text> LEVEL <level>)
#   Embeds an application manifest (resource type 24, id 1) in a Windows
#   executable: the execution level it asks for (requireAdministrator for
#   programs that write below HKLM and Program Files, asInvoker for tools),
#   the systems it was tested on, and an identity whose version is the
#   project's, as in the version resource. Classic controls: no dependency on
#   common controls 6.
function(qor_add_manifest target)
  cmake_parse_arguments(QOR_MANIFEST "" "NAME;DESCRIPTION;LEVEL" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest)
  configure_file(${CMAKE_SOURCE_DIR}/resources/app.manifest.in ${dir}/${target}.manifest @ONLY)
  file(WRITE ${dir}/${target}-manifest.rc "1 24 \"${target}.manifest\"\n")
  target_sources(${target} PRIVATE ${dir}/${target}-manifest.rc)
  set_source_files_properties(${dir}/${target}-manifest.rc PROPERTIES
    OBJECT_DEPENDS ${dir}/${target}.manifest)
endfunction()
