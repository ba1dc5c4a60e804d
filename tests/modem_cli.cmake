if(TARGET vxmodem)
  # Against the standard XMODEM and YMODEM programs, as xmodem_peer_test and ymodem_peer_test,
  # and not under the sanitizers for the same reason: their timing is the peers'.
  add_vx_test(modem_cli_test LABELS peers nosanitize TIMEOUT 600)
  target_compile_definitions(modem_cli_test PRIVATE VXMODEM_BIN="$<TARGET_FILE:vxmodem>")
  add_dependencies(modem_cli_test vxmodem)
endif()
