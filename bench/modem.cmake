# XMODEM, YMODEM and ZMODEM against lrzsz, on a pty pair and a paced USB-like line: `ninja modem_bench`.
if(TARGET vxmodem AND TARGET faultyline)
  add_custom_target(modem_bench
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/modem_bench.sh $<TARGET_FILE:vxmodem>
            $<TARGET_FILE:faultyline>
    DEPENDS vxmodem faultyline USES_TERMINAL)
endif()
