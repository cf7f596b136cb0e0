# skyvane_embed(TARGET FILE SYMBOL): compiles FILE's bytes into TARGET as `const unsigned char SYMBOL[]` with
# `const std::size_t SYMBOLSize`, regenerated whenever the file changes; the target's sources declare both by
# including "embedded/SYMBOL.h".
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
  get_filename_component(name "${file}" NAME)
  file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.h" CONTENT
"// Generated: the bytes of ${name}, compiled in.
#pragma once

#include <cstddef>

extern const unsigned char ${symbol}[];
extern const std::size_t ${symbol}Size;
")
  target_include_directories(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}")
endfunction()
