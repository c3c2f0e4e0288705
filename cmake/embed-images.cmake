# Writes OUTPUT: a C++ source that embeds the PNG files of IMAGES (id file id
# file ...) in FOLDER, with the table platform::findPngResource searches. The
# assembler pulls each file in whole (.incbin), so nothing here reads the bytes
# but the hash: it goes into the source text, so a compiler cache never serves
# an object holding an image's old bytes.
string(REPLACE "," ";" IMAGES "${IMAGES}")
set(blobs "")
set(declarations "")
set(table "")
list(LENGTH IMAGES count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET IMAGES ${i} id)
  list(GET IMAGES ${j} file)
  set(path ${FOLDER}/${file})
  file(SIZE ${path} size)
  file(SHA256 ${path} hash)
  # The path is quoted for the assembler, then that line for a C++ string.
  string(REPLACE "\\" "\\\\" path "${path}")
  string(REPLACE "\"" "\\\"" path "${path}")
  string(REPLACE "\\" "\\\\" path "${path}")
  string(REPLACE "\"" "\\\"" path "${path}")
  string(APPEND blobs
    "    \".globl tolvane_png_${id}\\n.hidden tolvane_png_${id}\\ntolvane_png_${id}:\\n\"\n"
    "    \".incbin \\\"${path}\\\"  /* sha256 ${hash} */\\n\"\n")
  string(APPEND declarations "extern \"C\" __attribute__((visibility(\"hidden\"))) const unsigned char tolvane_png_${id}[];\n")
  string(APPEND table "    {${id}, tolvane_png_${id}, ${size}},\n")
endforeach()
file(WRITE ${OUTPUT}.tmp
  "// Generated from resources/ at build time; do not edit.\n"
  "#include \"ImageResources.h\"\n\n"
  "asm(\".pushsection .rodata\\n\"\n${blobs}    \".popsection\\n\");\n\n"
  "${declarations}\n"
  "namespace platform {\n"
  "const EmbeddedPng embeddedPngs[] = {\n${table}};\n"
  "const size_t embeddedPngCount = sizeof embeddedPngs / sizeof embeddedPngs[0];\n"
  "}  // namespace platform\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
