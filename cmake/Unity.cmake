# Unity builds that survive new files.
#
# qelt_target_sources(TARGET SOURCE...) adds the sources to the target. With
# QELT_UNITY (and python3 at hand) its .cpp files are compiled in batches of
# at most QELT_UNITY_BATCH: cmake/unity_batches.py writes one source per
# batch that includes the batch's files. It runs again at build time whenever
# a source of the target, or a project header one of them reads, changes, and
# it only puts files together when they declare no name in common (helpers in
# anonymous namespaces, static functions, constants, aliases), define no
# macro the other uses, and write the same using-directives. A new file with
# a helper named like one of another file lands in another batch instead of
# breaking the build.
#
# A file that must be compiled on its own holds the line
#     // qelt-unity: alone
# A build with -DQELT_UNITY=OFF compiles every file on its own.

if(QELT_UNITY)
  find_package(Python3 COMPONENTS Interpreter)
  if(NOT Python3_Interpreter_FOUND)
    message(STATUS "python3 not found: sources are compiled one by one")
    set(QELT_UNITY OFF)
  endif()
endif()

function(qelt_target_sources target)
  set(cpp ${ARGN})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  set(other ${ARGN})
  list(FILTER other EXCLUDE REGEX "\\.cpp$")
  list(LENGTH cpp count)
  if(NOT QELT_UNITY OR count LESS 2)
    target_sources(${target} PRIVATE ${ARGN})
    return()
  endif()
  # One slot per source, enough for any batching; the slots a batching
  # leaves unused hold only a comment.
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/unity/${target})
  set(batches)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(APPEND batches ${dir}/${target}_${i}.cpp)
  endforeach()
  add_custom_command(
    OUTPUT ${dir}/batches.stamp
    BYPRODUCTS ${batches}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/unity_batches.py
            ${dir} ${target} ${QELT_UNITY_BATCH} ${count} ${dir}/batches.stamp
            -I${CMAKE_SOURCE_DIR}/tests -I${CMAKE_SOURCE_DIR} ${cpp}
    DEPENDS ${cpp} ${CMAKE_SOURCE_DIR}/cmake/unity_batches.py
    DEPFILE ${dir}/batches.d
    COMMENT "Batching the sources of ${target}"
    VERBATIM)
  # The included files are, to the compiler, headers: GCC's warning about
  # types of an anonymous namespace used from a header says nothing there.
  set_source_files_properties(${batches} PROPERTIES GENERATED ON
    COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>")
  set_source_files_properties(${cpp} PROPERTIES HEADER_FILE_ONLY ON)
  target_sources(${target} PRIVATE ${dir}/batches.stamp ${batches} ${cpp} ${other})
endfunction()
