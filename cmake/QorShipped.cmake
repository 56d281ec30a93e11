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
# - -Os for the user interface and start-up code (below); the archive engine,
#   the install run's per-entry path (install run, read-ahead, log writer,
#   folders) and the uninstaller's per-entry path (log reader, plan, rules,
#   removal) keep the build type's: a log may hold 100,000 entries.
# - The shipped image carries no symbols; <program>.debug beside it in the
#   build tree keeps them, and <program>.map shows what each library brought.

# The product code, as opposed to the tests and the tools.
set(QOR_PRODUCT_TARGETS qor_contract qor_text qor_archive qor_system qor_ui qor_setup
  qor_uninstall_core qor_uninstall TrovixInstall TrovixUninstall)

# Sources where size wins over speed: dialogs, windows, start-up, shortcuts,
# registry and version look-ups, each run once or per user action.
set(QOR_SIZE_SOURCES
  ui/Window.cpp ui/FolderBrowser.cpp
  setup/Main.cpp setup/MainWindow.cpp setup/WizardDialog.cpp setup/SetupWizard.cpp
  setup/StartUp.cpp setup/SetupDriver.cpp setup/StampedConfig.cpp
  system/Launch.cpp system/Registry.cpp system/ShellLink.cpp system/Shortcuts.cpp
  system/SystemLibrary.cpp system/Version.cpp
  text/ResourceText.cpp
  uninstall/Main.cpp uninstall/UninstallDialog.cpp uninstall/UninstallRun.cpp
  uninstall/SelfCopy.cpp)

# Applies the policy; called once every component is added.
function(qor_apply_size_policy)
  if(NOT WIN32)
    return()
  endif()
  set(options -ffunction-sections -fno-exceptions)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND options -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
  foreach(target ${QOR_PRODUCT_TARGETS})
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE ${options})
    endif()
  endforeach()
  # Source properties belong to the folder that defines the target.
  foreach(source ${QOR_SIZE_SOURCES})
    get_filename_component(dir ${CMAKE_SOURCE_DIR}/${source} DIRECTORY)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${source} AND EXISTS ${dir}/CMakeLists.txt)
      set_property(SOURCE ${CMAKE_SOURCE_DIR}/${source} DIRECTORY ${dir}
        APPEND PROPERTY COMPILE_OPTIONS -Os)
    endif()
  endforeach()
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
