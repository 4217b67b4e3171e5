# SQLite for the Windows build: the amalgamation shipped inside an npm package, pinned to an exact
# version and checked against its SHA-256 before anything is unpacked. Nothing third-party is committed.
set(TW_SQLITE_NPM_PACKAGE better-sqlite3)
set(TW_SQLITE_NPM_VERSION 12.9.0)
set(TW_SQLITE_NPM_SHA256 ad0e29650140c49d0335b1d356596aa8166f12b758f418a98446130e3278f250)

set(_dir ${CMAKE_BINARY_DIR}/_deps/sqlite)
set(_tgz ${_dir}/${TW_SQLITE_NPM_PACKAGE}-${TW_SQLITE_NPM_VERSION}.tgz)
set(_src ${_dir}/package/deps/sqlite3)

if(NOT EXISTS ${_src}/sqlite3.c)
  file(MAKE_DIRECTORY ${_dir})
  if(NOT EXISTS ${_tgz})
    find_program(TW_NPM npm REQUIRED)
    execute_process(
      COMMAND ${TW_NPM} pack ${TW_SQLITE_NPM_PACKAGE}@${TW_SQLITE_NPM_VERSION} --pack-destination ${_dir}
      WORKING_DIRECTORY ${_dir} RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "npm pack ${TW_SQLITE_NPM_PACKAGE}@${TW_SQLITE_NPM_VERSION} failed: ${_err}")
    endif()
  endif()
  file(SHA256 ${_tgz} _sum)
  if(NOT _sum STREQUAL TW_SQLITE_NPM_SHA256)
    file(REMOVE ${_tgz})
    message(FATAL_ERROR "SQLite package checksum mismatch: got ${_sum}, expected ${TW_SQLITE_NPM_SHA256}")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${_tgz} DESTINATION ${_dir}
       PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
endif()

add_library(tw_sqlite3 STATIC ${_src}/sqlite3.c)
target_include_directories(tw_sqlite3 SYSTEM PUBLIC ${_src})
target_compile_definitions(tw_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
target_compile_options(tw_sqlite3 PRIVATE -w -O2)
add_library(SQLite::SQLite3 ALIAS tw_sqlite3)
