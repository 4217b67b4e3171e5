# tw_add_subdirs(DIR...): adds each DIR below the current source folder that has a CMakeLists.txt.
# The ThreadSanitizer build takes only the threaded core (TW_TSAN_DIRS).
set(TW_TSAN_DIRS modbus values acquisition tags)
function(tw_add_subdirs)
  foreach(d ${ARGN})
    if(TW_TSAN AND NOT d IN_LIST TW_TSAN_DIRS)
      continue()
    endif()
    if(d IN_LIST TW_SKIP_DIRS)  # a developer's partial build: -DTW_SKIP_DIRS=opc;config
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/CMakeLists.txt)
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()
