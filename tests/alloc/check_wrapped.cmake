# SPDX-License-Identifier: GPL-2.0-or-later
cmake_minimum_required(VERSION 3.20)
# Fails when the library named by LIBRARY refers to a C or C++ library
# function that allocates memory and is not in WRAPPED (the functions the
# allocation-failure tests wrap). X11 and the dynamic loader allocate inside
# their own libraries and are not counted.
execute_process(COMMAND ${NM} -u ${LIBRARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -u ${LIBRARY} failed")
endif()
set(allocating malloc calloc realloc reallocarray aligned_alloc posix_memalign memalign valloc pvalloc
    strdup strndup wcsdup asprintf vasprintf fopen fopen64 fdopen freopen tmpfile popen open_memstream fmemopen
    opendir fdopendir scandir getline getdelim __getdelim realpath glob)
string(REGEX MATCHALL "[^ \t\n]+\n" lines "${undefined}\n")
set(missing)
foreach(line IN LISTS lines)
  string(STRIP "${line}" symbol)
  string(REGEX REPLACE "^U " "" symbol "${symbol}")
  string(REGEX REPLACE "@.*" "" symbol "${symbol}")
  if(symbol MATCHES "^_Zn[wa]" OR (symbol IN_LIST allocating AND NOT symbol IN_LIST WRAPPED))
    list(APPEND missing ${symbol})
  endif()
endforeach()
list(REMOVE_DUPLICATES missing)
if(missing)
  message(FATAL_ERROR "the runtime allocates through functions the tests do not wrap: ${missing}")
endif()
message(STATUS "every allocating function the runtime calls is wrapped")
