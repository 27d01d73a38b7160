# gzip_for_install(TARGET SOURCE OUTPUT): OUTPUT (a .gz in the build folder) is SOURCE compressed
# the way Debian wants documentation and manual pages: at the best ratio and without the name
# and time stamp gzip would otherwise store, so the same source always gives the same bytes.
function(gzip_for_install target source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${source} ${output}
                     DEPENDS ${source} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
