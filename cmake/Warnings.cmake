# Warnings on and treated as errors, for every target of the project.
function(krt_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
  target_compile_features(${target} PUBLIC cxx_std_17)
endfunction()
