# Unity builds: each target's C++ files compiled a batch at a time, each batch one translation
# unit that includes its files.
#
# Most of a file's compile time goes into the same headers (the standard library, nlohmann-json,
# Qt, GoogleTest) and into the same inline and template code those headers make every file
# generate again at -O2; a batch parses them once and emits them once.
#
# CMake's own UNITY_BUILD would do the same, but its batch files include the sources by absolute
# path, so their contents (and ccache's hash of them) change with the checkout's folder: a fresh
# clone elsewhere (CI) would never find an earlier build's objects in the cache. The batch files
# made here include the sources by a path relative to themselves; as the build folder lies
# inside the checkout, they read the same from any clone.
#
# The files of one target share one translation unit, so their file-local names (anonymous
# namespaces, `static` functions and constants) must differ. A file that cannot share (or is
# not meant to) keeps its own unit with the source property SKIP_UNITY_BUILD_INCLUSION.
#
# Incremental builds recompile a whole batch for a change to one file, and compile_commands.json
# names the batch files: clang-tidy (scripts/lint.sh, the `lint` preset) and anyone who edits
# and rebuilds one file over and over configure with LUMARIN_UNITY=OFF.

option(LUMARIN_UNITY "Compile each target's C++ files in batches (unity builds)" OFF)
set(LUMARIN_UNITY_BATCH_SIZE 8 CACHE STRING "The most C++ files one unity batch holds")

# Whether `source` (an absolute path) can go into a batch of `target`.
function(_lumarin_unity_eligible target source result)
  set(${result} FALSE PARENT_SCOPE)
  if(NOT source MATCHES "\\.cpp$" OR NOT source MATCHES "^${PROJECT_SOURCE_DIR}/"
     OR source MATCHES "^${PROJECT_BINARY_DIR}/")
    return()
  endif()
  foreach(property IN ITEMS GENERATED SKIP_UNITY_BUILD_INCLUSION HEADER_FILE_ONLY
          COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS INCLUDE_DIRECTORIES)
    get_source_file_property(value ${source} TARGET_DIRECTORY ${target} ${property})
    if(value)
      return()
    endif()
  endforeach()
  set(${result} TRUE PARENT_SCOPE)
endfunction()

function(_lumarin_unity target)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE|OBJECT_LIBRARY|SHARED_LIBRARY)$")
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(binary_dir ${target} BINARY_DIR)
  set(eligible "")
  foreach(source IN LISTS sources)
    if(source MATCHES "\\$<")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE OUTPUT_VARIABLE path)
    _lumarin_unity_eligible(${target} ${path} ok)
    if(ok)
      list(APPEND eligible ${path})
    endif()
  endforeach()
  list(LENGTH eligible count)
  if(count LESS 2)
    return()
  endif()
  set(unity_dir ${binary_dir}/${target}_unity)
  set(batch 0)
  set(in_batch 0)
  set(content "")
  set(batches "")
  foreach(path IN LISTS eligible)
    file(RELATIVE_PATH relative ${unity_dir} ${path})
    string(APPEND content "#include \"${relative}\"\n")
    math(EXPR in_batch "${in_batch} + 1")
    set_source_files_properties(${path} TARGET_DIRECTORY ${target}
      PROPERTIES HEADER_FILE_ONLY ON)
    if(in_batch EQUAL LUMARIN_UNITY_BATCH_SIZE)
      file(CONFIGURE OUTPUT ${unity_dir}/unity_${batch}.cpp CONTENT "${content}" @ONLY)
      list(APPEND batches ${unity_dir}/unity_${batch}.cpp)
      math(EXPR batch "${batch} + 1")
      set(in_batch 0)
      set(content "")
    endif()
  endforeach()
  if(in_batch GREATER 0)
    file(CONFIGURE OUTPUT ${unity_dir}/unity_${batch}.cpp CONTENT "${content}" @ONLY)
    list(APPEND batches ${unity_dir}/unity_${batch}.cpp)
  endif()
  target_sources(${target} PRIVATE ${batches})
  # GCC takes every file a batch includes for a header, and a class of a header whose members
  # use a type of the anonymous namespace is a fault there (each includer gets its own type);
  # here the file is a source in all but name, and its classes are as file-local as before.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_source_files_properties(${batches} TARGET_DIRECTORY ${target}
      PROPERTIES COMPILE_OPTIONS -Wno-subobject-linkage)
  endif()
endfunction()

# Puts every target of the project with two or more C++ files into batches. Called once, after
# every folder was added (see lumarin_precompile_all).
function(lumarin_unity_all)
  if(NOT LUMARIN_UNITY)
    return()
  endif()
  # clang-tidy's folder, also when configured by hand from the default preset
  # (`cmake --preset default -B build/lint`): it needs every source in compile_commands.json.
  if(PROJECT_BINARY_DIR MATCHES "/lint$")
    message(STATUS "Unity batches off in the lint folder")
    return()
  endif()
  _lumarin_targets_in(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    _lumarin_unity(${target})
  endforeach()
endfunction()
