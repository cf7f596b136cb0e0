# Writes a file's bytes as a C++ array: cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P Embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Generated from ${name} at build time; do not edit.\n#include <cstddef>\n\n"
  "extern const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
  "extern const std::size_t ${SYMBOL}Size = ${size};\n")
