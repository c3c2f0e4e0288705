# What the binaries we hand out get, and where `make dist`'s packages put them.
#
# With -DTOLVANE_DIST=ON every binary shipped through tolvane_ship(TARGETS ...)
# carries the C++ runtime inside, binds glibc symbols that older systems have
# (packaging/glibc_compat*.cpp), and is stripped after linking, its debug
# information kept in <binary>.debug beside it (found through .gnu_debuglink).
# The tests of that build load the same stripped files that are shipped.
#
# Install components, one per layout, so one build feeds every package:
#   system    the Debian package's tree under /usr (lib/vst, lib/lv2, bin, share)
#   portable  the archives' tree: everything in one folder
#   debug     the .debug files, in an archive of their own beside the others
option(TOLVANE_DIST "Build the binaries to hand out: C++ runtime inside, older glibc symbols, stripped" OFF)
# Folders in the packages as Debian wants them, whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The highest glibc symbol version a shipped Linux binary may need; `make dist` fails above it.
set(TOLVANE_GLIBC_CEILING 2.29)

# Shipped binaries' link settings and debug split; called by tolvane_ship(TARGETS).
function(tolvane_release_binary target)
  if(NOT TOLVANE_DIST)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT WIN32)
    # libgcc_s stays shared: glibc itself loads it (thread cancellation), so every
    # system has it, and its unwinder then serves the host and us alike.
    target_link_options(${target} PRIVATE -static-libstdc++ -Wl,--gc-sections -Wl,--exclude-libs,ALL
      -Wl,--wrap=stat,--wrap=fstat,--wrap=lstat,--wrap=stat64,--wrap=fstat64,--wrap=lstat64
      -Wl,--wrap=pthread_once,--wrap=__libc_single_threaded,--wrap=arc4random)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/packaging/glibc_compat.cpp)
    if(type STREQUAL "EXECUTABLE")
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/packaging/glibc_compat_program.cpp)
      target_link_options(${target} PRIVATE
        -Wl,--wrap=dlopen,--wrap=dlsym,--wrap=dlerror,--wrap=dlclose,--wrap=__libc_start_main)
      # dlopen and its kin lived in libdl.so.2 until glibc 2.34.
      target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -l:libdl.so.2 -Wl,--pop-state)
    endif()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug information off ${target}"
    VERBATIM)
endfunction()

# tolvane_ship(<TARGETS|FILES|PROGRAMS|DIRECTORY> item... SYSTEM dir [PORTABLE dir])
# Installs the items into the Debian package's tree at SYSTEM (relative to /usr)
# and into the archives' tree at PORTABLE (default: its top); targets also get
# tolvane_release_binary() and their .debug files go to the debug archive.
function(tolvane_ship kind)
  cmake_parse_arguments(PARSE_ARGV 1 ship "" "SYSTEM;PORTABLE" "")
  if(NOT DEFINED ship_PORTABLE)
    set(ship_PORTABLE .)
  endif()
  if(kind STREQUAL "TARGETS")
    foreach(target IN LISTS ship_UNPARSED_ARGUMENTS)
      tolvane_release_binary(${target})
      set_property(GLOBAL APPEND PROPERTY TOLVANE_SHIPPED_TARGETS ${target})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        set(mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      else()
        set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)  # loaded, not run
      endif()
      set(components system portable)
      set(destinations ${ship_SYSTEM} ${ship_PORTABLE})
      foreach(component destination IN ZIP_LISTS components destinations)
        install(TARGETS ${target}
          LIBRARY DESTINATION ${destination} PERMISSIONS ${mode} COMPONENT ${component}
          RUNTIME DESTINATION ${destination} PERMISSIONS ${mode} COMPONENT ${component})
      endforeach()
      if(TOLVANE_DIST)
        install(FILES $<TARGET_FILE:${target}>.debug DESTINATION ${ship_PORTABLE} COMPONENT debug)
      endif()
    endforeach()
  else()
    install(${kind} ${ship_UNPARSED_ARGUMENTS} DESTINATION ${ship_SYSTEM} COMPONENT system)
    install(${kind} ${ship_UNPARSED_ARGUMENTS} DESTINATION ${ship_PORTABLE} COMPONENT portable)
  endif()
endfunction()
