# Warnings and sanitizers for every project target (third-party code is not compiled here).
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)

if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Collects the sources of one layer; new files are picked up without editing CMake lists.
function(corvane_glob_sources out_var dir)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT found)
    set(found "${CMAKE_SOURCE_DIR}/cmake/empty_layer.cpp")  # a layer not filled yet
  endif()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()
