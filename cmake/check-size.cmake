# Fails when a file is bigger than a limit:
#   cmake -DFILE=path/Kairotsu.exe -DLIMIT=409600 -P check-size.cmake
if(NOT DEFINED FILE OR NOT DEFINED LIMIT)
  message(FATAL_ERROR "usage: cmake -DFILE=EXE -DLIMIT=BYTES -P check-size.cmake")
endif()
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "${FILE} does not exist (the 32-bit build makes it: cmake --build --preset win32)")
endif()
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than ${LIMIT}; tools/exe-size shows what it holds")
endif()
message(STATUS "${FILE}: ${size} bytes, limit ${LIMIT}")
