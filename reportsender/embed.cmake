# Writes a C++ source holding the bytes of INPUT as sender_image::data / sender_image::size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.new" "// Generated from send-error-report; do not edit.\n#include \"installer/driver/SenderImage.h\"\n\nnamespace sender_image {\nconst unsigned char data[] = {\n${bytes}};\nconst std::size_t size = ${size};\n} // namespace sender_image\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
