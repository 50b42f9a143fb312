# pageout_trace_table(<target> FUNCTION <name> SOURCE <file> [ROUTINE <shown name>])
#
# After <target> links, writes the traceback table of the routine <name> (its name or linkage name
# in the debugging information), defined in <file>, into the ".trace" section of the executable.
# The table comes from the compiler's own line information, so the target must be built with -g;
# the build fails when the table cannot be produced. The section is allocated, so the table stays
# when the executable is stripped later.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

if(NOT CMAKE_OBJDUMP)
  message(FATAL_ERROR "the traceback table needs objdump for the target")
endif()

function(pageout_trace_table target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FUNCTION;SOURCE;ROUTINE" "")
  if(NOT arg_ROUTINE)
    set(arg_ROUTINE _MAIN__)
  endif()
  get_filename_component(source ${arg_SOURCE} ABSOLUTE)
  # One contiguous code range per routine: the table's record covers exactly that range, so the
  # compiler must not move the routine's rarely run blocks into a separate section.
  set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS -g
    $<$<CXX_COMPILER_ID:GNU>:-fno-reorder-blocks-and-partition>)
  # A change of the generator relinks the target, which runs the step again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/trace_table.py)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/trace_table.py
      --objdump ${CMAKE_OBJDUMP} --image $<TARGET_FILE:${target}>
      --function ${arg_FUNCTION} --source ${source} --routine ${arg_ROUTINE}
    VERBATIM)
endfunction()
