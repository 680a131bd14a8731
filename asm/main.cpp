// kalvo3-asm: assembles microprograms into CM load files and main-memory data
// into MM load files, and disassembles CM load files.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "asm/assembler.hpp"
#include "asm/disassembler.hpp"
#include "core/load_file.hpp"

namespace {

const char USAGE[] =
    "Usage:\n"
    "  kalvo3-asm [-o OUT] FILE.masm              microprogram -> CM load file (default FILE.cm)\n"
    "  kalvo3-asm --data [-o OUT] FILE.mdat       main-memory data -> MM load file (default FILE.mm)\n"
    "  kalvo3-asm --disassemble [-o OUT] FILE.cm  CM load file -> microprogram (default: standard output)\n"
    "  kalvo3-asm --help                          this text\n"
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
};

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
    for (const std::string &message : diag.messages()) fprintf(stderr, "%s\n", message.c_str());
}

int assemble(const options &opt)
{
    diagnostics diag;
    assembler source(opt.what == mode::data ? source_kind::data : source_kind::micro, diag);
    source.assemble_file(opt.input);
    print_messages(diag);
    if (diag.has_errors()) return 1;

    load_target target = opt.what == mode::data ? LOAD_MM : LOAD_CM;
    std::string name = opt.output;
    if (name.empty())
        name = std::filesystem::path(opt.input).replace_extension(target == LOAD_MM ? ".mm" : ".cm").string();
    FILE *file = open_output(name);
    if (!file) return 1;
    write_load_header(file, target);
    for (auto [address, word] : source.words()) {
        if (target == LOAD_MM)
            write_mm_line(file, address, static_cast<uint16_t>(word));
        else
            write_cm_line(file, address, word);
    }
    return close_output(file, name) ? 0 : 1;
}

int disassemble_file(const options &opt)
{
    diagnostics diag;
    std::map<uint32_t, uint64_t> words;
    bool read = read_cm_load_file(opt.input, words, diag);
    print_messages(diag);
    if (!read) return 1;

    std::string name = opt.output.empty() ? "-" : opt.output;
    FILE *file = open_output(name);
    if (!file) return 1;
    fputs(disassemble(words).c_str(), file);
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
    return opt.what == mode::disassemble ? disassemble_file(opt) : assemble(opt);
}
