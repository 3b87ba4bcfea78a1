# The JPG converter (converter/, target glyphtack-converter) compiled into the core library as the
# Qt resource ":/CUSTOM/101". The program writes it out to the temporary folder and runs it at
# each JPG save; LoadConverterResource() in ConverterResource.h returns its bytes.
#
# rcc runs by hand rather than through qt_add_resources: the resource's only file is a build
# output, and the command has to run again whenever the converter is relinked.

set(GLYPHTACK_CONVERTER_QRC ${CMAKE_BINARY_DIR}/converter-resource/converter.qrc)
set(GLYPHTACK_CONVERTER_QRC_CPP ${CMAKE_BINARY_DIR}/converter-resource/qrc_glyphtack_converter.cpp)

file(GENERATE OUTPUT ${GLYPHTACK_CONVERTER_QRC} CONTENT
"<!DOCTYPE RCC><RCC version=\"1.0\">
<qresource prefix=\"/CUSTOM\">
    <file alias=\"101\">$<TARGET_FILE:glyphtack-converter></file>
</qresource>
</RCC>
")

# The name given to --name is the one ConverterResource.cpp passes to Q_INIT_RESOURCE.
add_custom_command(
    OUTPUT ${GLYPHTACK_CONVERTER_QRC_CPP}
    COMMAND Qt6::rcc --name glyphtack_converter --output ${GLYPHTACK_CONVERTER_QRC_CPP}
            ${GLYPHTACK_CONVERTER_QRC}
    DEPENDS glyphtack-converter ${GLYPHTACK_CONVERTER_QRC}
    COMMENT "Embedding the JPG converter as resource :/CUSTOM/101"
    VERBATIM)
target_sources(glyphtack_core PRIVATE ${GLYPHTACK_CONVERTER_QRC_CPP})
set_source_files_properties(${GLYPHTACK_CONVERTER_QRC_CPP} PROPERTIES SKIP_AUTOGEN ON)
