# Writes a C++ source that holds a text file as a string_view, so data files of resources/
# are compiled into the program: embed_text(OUT name file namespace).
file(READ "${INPUT}" content)
string(FIND "${content}" ")lumarin_embed\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; edit that file instead.\n"
  "#include <string_view>\n"
  "namespace ${NAMESPACE} {\n"
  "std::string_view ${NAME}() {\n"
  "  static constexpr std::string_view text = R\"lumarin_embed(${content})lumarin_embed\";\n"
  "  return text;\n"
  "}\n"
  "}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
