# Text files, file names and what each side tells the other it is.
add_vx_test(kermit_textform_test)
add_vx_test(kermit_text_test TIMEOUT 300)
if(TARGET vxkermit)
  add_vx_test(kermit_defaults_peer_test LABELS peers TIMEOUT 900)
  target_compile_definitions(kermit_defaults_peer_test PRIVATE VXKERMIT_BIN="$<TARGET_FILE:vxkermit>")
  add_dependencies(kermit_defaults_peer_test vxkermit)
endif()
