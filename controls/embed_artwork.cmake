# Writes a C++ source that holds the bytes of the artwork PNG files and the accessor
# ArtworkBytes. Run by the build with -P; arguments: OUTPUT (the source to write) and
# ARTWORK, a list of alternating names (the ArtworkId enumerators) and PNG paths.
set(body "")
set(cases "")
list(LENGTH ARTWORK count)
math(EXPR last "${count} - 1")
foreach(index RANGE 0 ${last} 2)
  math(EXPR path_index "${index} + 1")
  list(GET ARTWORK ${index} name)
  list(GET ARTWORK ${path_index} path)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    "
         bytes "${bytes}")
  string(APPEND body "const std::uint8_t k${name}[] = {\n    ${bytes}\n};\n")
  string(APPEND cases "        case ArtworkId::k${name}:\n            return k${name};\n")
endforeach()
file(WRITE "${OUTPUT}.new"
     "// Made by the build from controls/artwork/*.png; do not edit.\n"
     "#include \"controls/artwork.h\"\n\nnamespace {\n${body}}  // namespace\n\n"
     "std::span<const std::uint8_t> ArtworkBytes(ArtworkId id) {\n"
     "    switch (id) {\n${cases}    }\n    return {};\n}\n")
# Replaced only when changed, so an unchanged artwork set does not rebuild the library.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
