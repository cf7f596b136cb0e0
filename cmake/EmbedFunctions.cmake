# skyvane_embed(TARGET FILE SYMBOL): compiles FILE's bytes into TARGET as `const unsigned char SYMBOL[]` with
# `const std::size_t SYMBOLSize`, regenerated whenever the file changes.
function(skyvane_embed target file symbol)
  get_filename_component(absolute "${file}" ABSOLUTE)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${symbol}.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${absolute} -DOUTPUT=${output} -DSYMBOL=${symbol}
            -P ${PROJECT_SOURCE_DIR}/cmake/Embed.cmake
    DEPENDS "${absolute}" ${PROJECT_SOURCE_DIR}/cmake/Embed.cmake
    COMMENT "Embedding ${file}")
  target_sources(${target} PRIVATE "${output}")
endfunction()
