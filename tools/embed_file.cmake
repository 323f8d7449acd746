# Writes a C++ source that holds the bytes of INPUT as the array SYMBOL and
# its length as SYMBOL##Size, so a data file travels inside the tool.
#   cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
     "// Generated at build time from ${name}.\n"
     "#include <cstddef>\n"
     "extern const unsigned char ${SYMBOL}[];\n"
     "extern const std::size_t ${SYMBOL}Size;\n"
     "const unsigned char ${SYMBOL}[] = {${bytes}0x00};\n"
     "const std::size_t ${SYMBOL}Size = ${size};\n")
