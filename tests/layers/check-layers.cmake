# Checks that each layer's library sees the headers of its own layer and of the layers below it,
# and no others: for every library and every layer, a file that includes one header of that layer
# is preprocessed with the library's include directories, as its own sources are. And that no
# library's code uses a function or object which only a library above it defines (a declaration
# written by hand instead of an include links in the program, where the upper library is on the
# link line anyway). Run by CTest:
#   cmake -DCXX=compiler -DNM=nm -DWORK=folder -DINCLUDES_<library>=dir|dir...
#         -DARCHIVE_<library>=lib<library>.a ... -P check-layers.cmake

cmake_minimum_required(VERSION 3.25)

# One header of each layer.
set(header_toolkit toolkit/Platform.h)
set(header_forms toolkit/Forms.h)
set(header_base base/IpUtils.h)
set(header_log log/IpLog.h)
set(header_settings settings/IniFile.h)
set(header_tray tray/TrayIcon.h)
set(header_sock sock/IpClient.h)
set(header_sntp sntp/IpTime.h)
set(header_lineclient lineclient/LineSession.h)
set(header_app app/ServerList.h)
set(layers toolkit forms base log settings tray sock sntp lineclient app)

# What each library may include: its own layer and those below it.
set(sees_k_toolkit toolkit)
set(sees_k_forms toolkit forms)
set(sees_k_base toolkit base)
set(sees_k_log toolkit base log)
set(sees_k_settings toolkit forms settings)
set(sees_k_tray toolkit forms tray)
set(sees_k_sock toolkit base log sock)
set(sees_k_sntp toolkit base log sock sntp)
set(sees_k_lineclient toolkit base log sock lineclient)
set(sees_k_app toolkit forms base log settings tray sock sntp app)
set(libraries k_toolkit k_forms k_base k_log k_settings k_tray k_sock k_sntp k_lineclient k_app)

file(MAKE_DIRECTORY ${WORK})
set(failures "")
foreach(lib IN LISTS libraries)
  if(NOT DEFINED INCLUDES_${lib})
    message(FATAL_ERROR "no include directories given for ${lib}")
  endif()
  string(REPLACE "|" ";" dirs "${INCLUDES_${lib}}")
  list(TRANSFORM dirs PREPEND "-I")
  foreach(layer IN LISTS layers)
    set(header ${header_${layer}})
    set(probe ${WORK}/${lib}-${layer}.cpp)
    file(WRITE ${probe} "#include \"${header}\"\n")
    execute_process(COMMAND ${CXX} -std=c++20 -E ${dirs} ${probe} -o ${WORK}/${lib}-${layer}.ii
                    RESULT_VARIABLE status ERROR_VARIABLE errors)
    string(REPLACE "." "[.]" pattern "${header}")
    if(layer IN_LIST sees_${lib})
      if(NOT status EQUAL 0)
        string(APPEND failures "${lib} cannot include ${header}:\n${errors}\n")
      endif()
    elseif(status EQUAL 0)
      string(APPEND failures "${lib} can include ${header}, a layer above it\n")
    elseif(NOT errors MATCHES "${pattern}: No such file|'${pattern}' file not found")
      string(APPEND failures "${lib} including ${header} fails, but not for want of the file:\n${errors}\n")
    endif()
  endforeach()
endforeach()

# Which library defines each external symbol (functions, objects; not the weak definitions of
# inline and template code, which every library that uses them carries).
foreach(lib IN LISTS libraries)
  execute_process(COMMAND ${NM} -g --defined-only ${ARCHIVE_${lib}} OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${ARCHIVE_${lib}}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [TDBR] [^\n]+" definitions "${out}")
  foreach(definition IN LISTS definitions)
    string(REGEX REPLACE "^[0-9a-f]+ . " "" symbol "${definition}")
    set("defined_${symbol}" ${lib})
  endforeach()
endforeach()
foreach(lib IN LISTS libraries)
  execute_process(COMMAND ${NM} -u ${ARCHIVE_${lib}} OUTPUT_VARIABLE out)
  string(REGEX MATCHALL " U [^\n]+" uses "${out}")
  list(REMOVE_DUPLICATES uses)
  foreach(use IN LISTS uses)
    string(SUBSTRING "${use}" 3 -1 symbol)
    if(DEFINED "defined_${symbol}")
      string(REGEX REPLACE "^k_" "" layer ${defined_${symbol}})
      if(NOT layer IN_LIST sees_${lib})
        string(APPEND failures "${lib} uses ${symbol} of ${defined_${symbol}}, a layer above it\n")
      endif()
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH libraries n)
message(STATUS "${n} libraries each see and use their own layer and those below, nothing above")
