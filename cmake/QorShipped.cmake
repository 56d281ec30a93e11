# Size policy of the shipped Windows programs (TrovixInstall.exe travels
# inside every setup, so each kilobyte of it is downloaded by every user).
#
# - Every function in its own section, and the linker drops what
#   nothing reaches (libuuid's GUIDs but the few used, unused functions). Data
#   stays in whole sections: PE puts zeroed data of its own section in the file.
# - No exceptions: nothing here throws or catches one, and the run-time pieces
#   that would (operator new, container limits, guards of local statics) come
#   from runtime/ShippedRuntime.cpp, so the unwinder and its tables stay out.
# - 32-bit: no unwind tables (only C++ exceptions would read them). x86-64
#   keeps them: Windows itself unwinds through every frame there.
# - No run-time type information: nothing asks a type's name or casts
#   dynamically, and each polymorphic class would carry its type record.
# - -Os throughout but the uninstaller's per-entry path, zlib included (third_party/zlib). Measured against -O2 on
#   the paths that run per entry (inflate and its CRC, the install run's and
#   the uninstaller's per-entry work): inflating takes about as many
#   instructions either way, and per-entry time is the system's file calls,
#   not this code; -O2 cost the stub about 45 KB.
# - 32-bit: the unwind tables that the C run-time's and the compiler
#   library's objects bring are dropped at the link (shipped.ld, the linker's
#   default script with our changes): without exceptions nothing reads them.
#   The same script puts the small run-time sections (TLS template, .CRT,
#   crtbegin.o's frame table) into .data: each section costs a file block.
# - The shipped image carries no symbols; <program>.debug beside it in the
#   build tree keeps them, and <program>.map shows what each library brought.

# The product code, as opposed to the tests and the tools.
set(QOR_PRODUCT_TARGETS qor_contract qor_text qor_archive qor_system qor_ui qor_setup
  qor_uninstall_core qor_uninstall TrovixInstall TrovixUninstall)

# Applies the policy; called once every component is added.
function(qor_apply_size_policy)
  if(NOT WIN32)
    return()
  endif()
  set(options -ffunction-sections -fno-exceptions -fno-rtti -Os)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND options -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
  foreach(target ${QOR_PRODUCT_TARGETS})
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE ${options})
    endif()
  endforeach()
  # The uninstaller's per-entry path (log reader, plan, rules, removal) keeps
  # -O2: at -Os the silent uninstall of 3,000 files measured about 10% slower.
  if(TARGET qor_uninstall_core)
    target_compile_options(qor_uninstall_core PRIVATE -O2)
  endif()
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/uninstall/RemovalEngine.cpp
    DIRECTORY ${CMAKE_SOURCE_DIR}/uninstall APPEND PROPERTY COMPILE_OPTIONS -O2)
  # Likewise the install run's folder walk and log records (18% slower per
  # entry at -Os); the engine, inflate and the profile writer measured alike.
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/system/UninstallLog.cpp
    DIRECTORY ${CMAKE_SOURCE_DIR}/system APPEND PROPERTY COMPILE_OPTIONS -O2)
endfunction()

# The link of one shipped program: the run-time pieces, unreferenced sections
# dropped, a map, and the symbols moved into <program>.debug. Called in the
# folder that defines the program (its post-build step must be).
function(qor_shipped_program target)
  if(NOT WIN32)
    return()
  endif()
  set(runtime ${CMAKE_SOURCE_DIR}/runtime/ShippedRuntime.cpp)
  target_sources(${target} PRIVATE ${runtime})
  set_property(SOURCE ${runtime} APPEND PROPERTY COMPILE_OPTIONS -Os)
  target_link_options(${target} PRIVATE -Wl,--gc-sections
    -Wl,-Map=$<TARGET_FILE_DIR:${target}>/${target}.map)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE
      -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/shipped.ld)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
      ${CMAKE_SOURCE_DIR}/cmake/shipped.ld)
  endif()
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
        $<TARGET_FILE_DIR:${target}>/${target}.debug
      # As the linker's own -s leaves it: 8-character section names.
      COMMAND ${CMAKE_OBJCOPY} --strip-all --long-section-names disable
        $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
