# Tarnwatch is GPL-2.0-or-later, Qt 6 is LGPL-3 and libnftables GPL-2-only:
# no binary may contain both Qt and libnftables, nor Qt and tw_privileged,
# the library that links libnftables. This walks the link libraries of every
# target, through the targets they name, at the end of configuration (when
# every target exists) and stops the configuration when one would.

function(_tw_all_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    _tw_all_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(tw_check_licences)
  _tw_all_targets(${CMAKE_SOURCE_DIR} targets)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "EXECUTABLE|LIBRARY")
      continue()
    endif()
    set(queue ${target})
    set(seen "")
    set(qt "")
    set(nft "")
    while(queue)
      list(POP_FRONT queue item)
      # Unwrap generator expressions around a name: $<LINK_ONLY:x>,
      # $<BUILD_INTERFACE:x>, $<$<CONFIG:Debug>:x>. Whatever stays wrapped
      # is still matched as text below.
      # (Two tests: a failing MATCHES clears CMAKE_MATCH_1, and `if` does not
      # stop at the first true term of an OR.)
      while(TRUE)
        if(item MATCHES "^\\$<[A-Z_]+:(.+)>$")
          set(item "${CMAKE_MATCH_1}")
        elseif(item MATCHES "^\\$<\\$<[^>]*>:(.+)>$")
          set(item "${CMAKE_MATCH_1}")
        else()
          break()
        endif()
      endwhile()
      if(item STREQUAL "" OR item IN_LIST seen)
        continue()
      endif()
      list(APPEND seen "${item}")
      string(TOLOWER "${item}" lower)
      if(item MATCHES "^Qt[0-9]*::" OR lower MATCHES "(^|/)libqt[0-9]")
        set(qt "${item}")
        continue()  # Qt's own dependencies do not matter here
      endif()
      # tw_privileged is where libnftables will be linked: keeping it away
      # from Qt now keeps the rule from depending on what it holds today.
      if(lower MATCHES "nftables" OR item STREQUAL "tw_privileged")
        set(nft "${item}")
      endif()
      if(TARGET ${item})
        get_target_property(aliased ${item} ALIASED_TARGET)
        if(aliased)
          list(APPEND queue ${aliased})
          continue()
        endif()
        get_target_property(imported ${item} IMPORTED)
        get_target_property(item_type ${item} TYPE)
        set(props INTERFACE_LINK_LIBRARIES)
        if(imported)
          list(APPEND props IMPORTED_LOCATION IMPORTED_LIBNAME)
        elseif(NOT item_type STREQUAL "INTERFACE_LIBRARY")
          list(APPEND props LINK_LIBRARIES)
        endif()
        foreach(prop ${props})
          get_target_property(libs ${item} ${prop})
          if(libs)
            list(APPEND queue ${libs})
          endif()
        endforeach()
      endif()
    endwhile()
    if(qt AND nft)
      message(FATAL_ERROR "${target} links both Qt (${qt}) and ${nft}: libnftables (GPL-2-only) and "
                          "tw_privileged, which holds the nftables code, must never share a binary with "
                          "Qt (LGPL-3). Only tarnix-helper and tarnixd link tw_privileged.")
    endif()
  endforeach()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tw_check_licences)
