# cmake -DOUTPUT=<file.cpp> -DINPUTS=<a.bmp;b.bmp;...> -P EmbedBitmaps.cmake
# Writes the palette bitmaps as C++ arrays: each BMP file without its 14-byte
# file header (a device-independent bitmap, as a bitmap resource holds it),
# named after its file.
set(_out "// Generated from the palette bitmaps (res/*.bmp) by EmbedBitmaps.cmake.\n")
string(APPEND _out "#include \"PaletteBitmaps.h\"\n\nnamespace CorvaneP {\n\nnamespace {\n")
set(_entries "")
foreach(_file IN LISTS INPUTS)
  get_filename_component(_name ${_file} NAME_WE)
  file(READ ${_file} _hex OFFSET 14 HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " _bytes "${_bytes}")
  string(APPEND _out "const unsigned char k${_name}[] = {\n    ${_bytes}};\n")
  string(APPEND _entries "    {u\"${_name}\", k${_name}, sizeof k${_name}},\n")
endforeach()
string(APPEND _out "}  // namespace\n\nconst TPaletteBitmap PaletteBitmaps[] = {\n${_entries}};\n")
string(APPEND _out "const std::size_t PaletteBitmapCount = sizeof PaletteBitmaps / sizeof PaletteBitmaps[0];\n")
string(APPEND _out "\n}  // namespace CorvaneP\n")
file(WRITE ${OUTPUT} "${_out}")
