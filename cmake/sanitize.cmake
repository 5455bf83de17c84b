# -DTALVO_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer for every
# target, the first report ending the process, so that a test run fails on it.
include_guard(GLOBAL)
option(TALVO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(TALVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The sanitizer runtimes replace the allocator and need the shared C and C++
# runtimes: statically linked ones would bypass them (and -static cannot be combined
# with AddressSanitizer at all). Call after the targets are defined.
function(talvo_shared_runtime_when_sanitized)
  if(NOT TALVO_SANITIZE)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      get_target_property(options ${target} LINK_OPTIONS)
      if(options)
        list(REMOVE_ITEM options -static -static-libstdc++ -static-libgcc)
        set_target_properties(${target} PROPERTIES LINK_OPTIONS "${options}")
      endif()
    endif()
  endforeach()
endfunction()
