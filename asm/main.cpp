// kalvo3-asm: assembles microprograms into CM load files and main-memory data
// into MM load files, and disassembles CM load files.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "asm/listing.hpp"
#include "core/load_file.hpp"

namespace {

const char USAGE[] =
    "Usage:\n"
    "  kalvo3-asm [-o OUT] FILE.masm              microprogram -> CM load file (default FILE.cm)\n"
    "  kalvo3-asm --data [-o OUT] FILE.mdat       main-memory data -> MM load file (default FILE.mm)\n"
    "  kalvo3-asm --disassemble [-o OUT] FILE.cm  CM load file -> microprogram (default: standard output)\n"
    "  kalvo3-asm --help                          this text\n"
    "\n"
    "Options:\n"
    "  --listing[=LST]  also write a listing (default: the output name with .lst),\n"
    "                   also when the source has errors\n"
    "  --fields         in the listing, split each micro-instruction into its ten fields\n"
    "  --symbols[=SYM]  also write the labels and their addresses (default: .sym);\n"
    "                   with --disassemble, name the words by them (default: FILE.sym)\n"
    "  --Werror         treat warnings (the timing warnings too) as errors\n"
    "\n"
    "OUT '-' is standard output. Errors and warnings go to standard error as\n"
    "FILE:LINE:COLUMN: error: REASON; when there is an error no output is written.\n"
    "Exit status: 0 success, 1 error in the input, 2 wrong command line.\n"
    "The source syntax is described in docs/assembler.md.\n";

enum class mode { assemble, data, disassemble };

struct options {
    mode what = mode::assemble;
    std::string input;
    std::string output;   // empty: the default for the mode
    bool listing = false;
    std::string listing_name;   // empty: beside the output
    bool fields = false;
    bool symbols = false;
    std::string symbols_name;   // empty: beside the output (the input when disassembling)
    bool warnings_are_errors = false;
};

// An option "--NAME" or "--NAME=VALUE": sets `given` and `value` when `arg`
// is one.
bool optional_value(const std::string &arg, const std::string &name, bool &given, std::string &value)
{
    if (arg != name && !arg.starts_with(name + "=")) return false;
    given = true;
    value = arg.size() > name.size() ? arg.substr(name.size() + 1) : "";
    return true;
}

int usage_error(const char *reason)
{
    fprintf(stderr, "kalvo3-asm: %s\n%s", reason, USAGE);
    return 2;
}

// Opens `name` for writing ("-" is standard output); reports a failure.
FILE *open_output(const std::string &name)
{
    if (name == "-") return stdout;
    FILE *file = fopen(name.c_str(), "w");
    if (!file) fprintf(stderr, "%s: error: cannot write the file: %s\n", name.c_str(), strerror(errno));
    return file;
}

bool close_output(FILE *file, const std::string &name)
{
    bool ok = fflush(file) == 0 && !ferror(file);
    if (file != stdout) ok = fclose(file) == 0 && ok;
    if (!ok) fprintf(stderr, "%s: error: writing the file failed\n", name.c_str());
    return ok;
}

void print_messages(const diagnostics &diag)
{
    for (const diagnostic &record : diag.records()) fprintf(stderr, "%s\n", diagnostic_text(record).c_str());
}

std::string with_extension(const std::string &name, const char *extension)
{
    return std::filesystem::path(name).replace_extension(extension).string();
}

// Writes `text` to the file `name` ("-": standard output).
bool write_text(const std::string &name, const std::string &text)
{
    FILE *file = open_output(name);
    if (!file) return false;
    fputs(text.c_str(), file);
    return close_output(file, name);
}

int assemble(const options &opt)
{
    diagnostics diag;
    if (opt.warnings_are_errors) diag.treat_warnings_as_errors();
    assembler source(opt.what == mode::data ? source_kind::data : source_kind::micro, diag);
    source.assemble_file(opt.input);
    print_messages(diag);

    load_target target = opt.what == mode::data ? LOAD_MM : LOAD_CM;
    std::string name = opt.output;
    if (name.empty()) name = with_extension(opt.input, target == LOAD_MM ? ".mm" : ".cm");
    const std::string &beside = name == "-" ? opt.input : name;
    std::string listing_name = opt.listing_name.empty() ? with_extension(beside, ".lst") : opt.listing_name;
    if (diag.has_errors()) {   // the listing shows what assembled, and the errors under their lines
        if (opt.listing) write_text(listing_name, listing_text(source, {opt.fields, &diag}));
        return 1;
    }
    FILE *file = open_output(name);
    if (!file) return 1;
    write_load_file(file, source, target);
    if (!close_output(file, name)) return 1;

    if (opt.listing && !write_text(listing_name, listing_text(source, {opt.fields, &diag}))) return 1;
    if (opt.symbols &&
        !write_text(opt.symbols_name.empty() ? with_extension(beside, ".sym") : opt.symbols_name, symbol_file_text(source)))
        return 1;
    return 0;
}

int disassemble_file(const options &opt)
{
    diagnostics diag;
    std::map<uint32_t, uint64_t> words;
    if (opt.warnings_are_errors) diag.treat_warnings_as_errors();
    std::map<uint32_t, std::string> names;
    bool read = read_cm_load_file(opt.input, words, diag) &&
                (!opt.symbols ||
                 read_symbol_file(opt.symbols_name.empty() ? with_extension(opt.input, ".sym") : opt.symbols_name, names, diag));
    print_messages(diag);
    if (!read || diag.has_errors()) return 1;

    std::string name = opt.output.empty() ? "-" : opt.output;
    FILE *file = open_output(name);
    if (!file) return 1;
    fputs(disassemble(words, names).c_str(), file);
    return close_output(file, name) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    options opt;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--data") {
            opt.what = mode::data;
        } else if (arg == "--disassemble") {
            opt.what = mode::disassemble;
        } else if (optional_value(arg, "--listing", opt.listing, opt.listing_name)) {
            if (opt.listing_name.empty() && arg != "--listing") return usage_error("--listing= needs a file name");
        } else if (optional_value(arg, "--symbols", opt.symbols, opt.symbols_name)) {
            if (opt.symbols_name.empty() && arg != "--symbols") return usage_error("--symbols= needs a file name");
        } else if (arg == "--fields") {
            opt.fields = true;
        } else if (arg == "--Werror") {
            opt.warnings_are_errors = true;
        } else if (arg == "-o") {
            if (++i == argc) return usage_error("-o needs a file name");
            opt.output = argv[i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error(("unknown option '" + arg + "'").c_str());
        } else if (opt.input.empty()) {
            opt.input = arg;
        } else {
            return usage_error("only one input file");
        }
    }
    if (opt.input.empty()) return usage_error("no input file");
    if (opt.what == mode::disassemble && opt.listing) return usage_error("--listing is for assembling");
    if (opt.fields && !opt.listing) return usage_error("--fields needs --listing");
    // A directory opens for reading on some systems and reads as empty: it
    // would assemble to an empty load file. Pipes and devices are read as
    // files are, up to the size bound.
    std::error_code code;
    if (std::filesystem::is_directory(opt.input, code)) {
        fprintf(stderr, "%s: error: is a directory, not a file\n", opt.input.c_str());
        return 1;
    }
    return opt.what == mode::disassemble ? disassemble_file(opt) : assemble(opt);
}
