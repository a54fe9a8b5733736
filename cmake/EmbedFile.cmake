# Writes a C++ source holding a file's bytes:
#   cmake -DINPUT=file -DOUTPUT=out.cpp -DNAME=kName -P EmbedFile.cmake
# defines `const unsigned char kName[]` (the bytes and a terminating zero)
# and `const std::size_t kNameSize`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n"
  "extern const unsigned char ${NAME}[] = {${bytes}0};\n"
  "extern const std::size_t ${NAME}Size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
