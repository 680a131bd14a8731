// Fuzz target: arbitrary bytes as an assembler's input, a source with the
// files it may include, all in memory:
//
//   [0x01] MAIN [0x00 NAME '\n' TEXT]...
//
// A first byte 0x01 makes MAIN a data source, else it is a microprogram;
// each further part is a file that MAIN (or another part) can include by
// NAME. Whatever assembles goes through the listing, the symbol file and,
// for a microprogram without errors, the disassembler, whose source must
// assemble back to the very same words.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "asm/listing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    source_kind kind = source_kind::micro;
    if (!input.empty() && input[0] == '\x01') {
        kind = source_kind::data;
        input.remove_prefix(1);
    }
    size_t end = input.find('\0');
    std::string_view main_text = input.substr(0, end);
    std::map<std::string, std::string> files;
    while (end != std::string_view::npos) {
        input.remove_prefix(end + 1);
        end = input.find('\0');
        std::string_view part = input.substr(0, end);
        size_t name_end = part.find('\n');
        if (name_end == std::string_view::npos) continue;
        files.emplace(std::string(part.substr(0, name_end)), std::string(part.substr(name_end + 1)));
    }

    diagnostics diag;
    assembler source(kind, diag);
    source.include_from(&files);
    source.assemble_text(kind == source_kind::data ? "main.mdat" : "main.masm", main_text);
    listing_text(source, {true, &diag});
    symbol_file_text(source);
    if (kind != source_kind::micro || diag.has_errors()) return 0;

    diagnostics again_diag;
    assembler again(source_kind::micro, again_diag);
    again.assemble_text("again.masm", disassemble(source.words()));
    if (again_diag.has_errors() || again.words() != source.words()) abort();
    return 0;
}
