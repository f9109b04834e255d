# The tests' and benchmarks' programs stay out of `all`, so `package` (which builds
# `all`) builds only what ships. `zarvelin_checks` builds every one of them:
#   cmake --build --preset linux --target all zarvelin_checks
function(zarvelin_checks_collect dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      add_dependencies(zarvelin_checks ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    zarvelin_checks_collect(${subdir})
  endforeach()
endfunction()
