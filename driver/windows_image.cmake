# Builds OvPvrUSB.sys with mingw-w64 and its driver kit, then checks the image: a PE file of
# the native subsystem whose entry point is DriverEntry and which imports from the kernel,
# the HAL, the USB library and the WMI library only.
#   cmake -DGCC=... -DOBJDUMP=... -DNM=... -DSOURCES=a.c|b.c -DREPO=... -DOUTPUT_DIR=...
#         -P windows_image.cmake

foreach(tool GCC OBJDUMP NM)
  if(NOT ${tool} OR NOT EXISTS "${${tool}}")
    message(FATAL_ERROR "mingw-w64 tool missing: ${tool} (install gcc-mingw-w64-x86-64)")
  endif()
endforeach()
string(REPLACE "|" ";" SOURCES "${SOURCES}")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
set(ddk "/usr/x86_64-w64-mingw32/include/ddk")

set(objects)
foreach(source IN LISTS SOURCES)
  get_filename_component(name "${source}" NAME_WE)
  set(object "${OUTPUT_DIR}/${name}.o")
  execute_process(
    COMMAND ${GCC} -std=c11 -O2 -Wall -Wextra -Werror -fno-stack-protector -mno-stack-arg-probe
            -I${ddk} -I${REPO} -c ${source} -o ${object}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "compiling ${source} failed:\n${errors}")
  endif()
  list(APPEND objects "${object}")
endforeach()

set(image "${OUTPUT_DIR}/OvPvrUSB.sys")
execute_process(
  COMMAND ${GCC} -nostdlib -nostartfiles -shared -Wl,--subsystem,native -Wl,--entry,DriverEntry
          -Wl,--image-base,0x10000 -Wl,--exclude-all-symbols -o ${image} ${objects}
          -lntoskrnl -lhal -lusbd -lwmilib
  RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "linking OvPvrUSB.sys failed:\n${errors}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${image} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump cannot read OvPvrUSB.sys")
endif()
if(NOT headers MATCHES "file format pei-x86-64")
  message(FATAL_ERROR "OvPvrUSB.sys is not a 64-bit PE image")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000001[ \t]+\\(NT native\\)")
  message(FATAL_ERROR "OvPvrUSB.sys is not of the native subsystem")
endif()

string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${headers}")
set(entry_rva "${CMAKE_MATCH_1}")
string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${headers}")
set(image_base "${CMAKE_MATCH_1}")
execute_process(COMMAND ${NM} ${image} OUTPUT_VARIABLE symbols)
string(REGEX MATCH "([0-9a-fA-F]+) T DriverEntry" _ "${symbols}")
set(driver_entry "${CMAKE_MATCH_1}")
if(entry_rva STREQUAL "" OR image_base STREQUAL "" OR driver_entry STREQUAL "")
  message(FATAL_ERROR "entry point or DriverEntry not found")
endif()
math(EXPR entry "0x${image_base} + 0x${entry_rva}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR expected "0x${driver_entry}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT entry EQUAL expected)
  message(FATAL_ERROR "entry point ${entry} is not DriverEntry (${expected})")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
  message(FATAL_ERROR "OvPvrUSB.sys imports nothing")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(STRIP "${dll}" dll)
  if(NOT dll MATCHES "^(ntoskrnl\\.exe|HAL\\.dll|USBD\\.SYS|WMILIB\\.SYS)$")
    message(FATAL_ERROR "OvPvrUSB.sys imports from ${dll}")
  endif()
endforeach()
message(STATUS "OvPvrUSB.sys: native PE image, entry DriverEntry, imports ${imports}")
