#include "fuzz/fuzz_session.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "console/command_loop.hpp"
#include "core/devices.hpp"
#include "core/machine_state.hpp"

namespace fs = std::filesystem;

namespace {

char scratch[4096];

void remove_scratch() { fs::remove_all(scratch); }

// Copies the load files (*.cm, *.mm), sources (*.masm, *.mdat, *.inc: for
// the check and C interface targets) and card decks (KALV.CRD) of every
// session directory below `tree` into the working directory; of files with
// the same name, the first found stays.
void copy_session_files(const fs::path &tree)
{
    std::error_code error;
    for (const fs::directory_entry &dir : fs::directory_iterator(tree, error)) {
        for (const fs::directory_entry &file : fs::directory_iterator(dir.path(), error)) {
            const fs::path &path = file.path();
            if (path.extension() == ".cm" || path.extension() == ".mm" || path.extension() == ".masm" ||
                path.extension() == ".mdat" || path.extension() == ".inc" || path.filename() == "KALV.CRD")
                fs::copy_file(path, path.filename(), fs::copy_options::skip_existing, error);
        }
    }
}

}  // namespace

void fuzz_session_setup()
{
    if (!freopen("/dev/null", "w", stdout)) abort();
    const int null_input = open("/dev/null", O_RDONLY);
    if (null_input < 0 || dup2(null_input, 0) < 0) abort();
    close(null_input);

    const char *base = getenv("TMPDIR");
    snprintf(scratch, sizeof scratch, "%s/kalvo3-fuzz-XXXXXX", base && *base ? base : "/tmp");
    if (!mkdtemp(scratch) || chdir(scratch) != 0) abort();
    atexit(remove_scratch);
    copy_session_files(KALVO3_SOURCE_DIR "/tests/transcripts");
    copy_session_files(KALVO3_SOURCE_DIR "/examples");
}

void run_fuzz_session(const uint8_t *data, size_t size)
{
    // fmemopen refuses an empty buffer; /dev/null is the same empty input.
    FILE *input = size > 0 ? fmemopen(const_cast<uint8_t *>(data), size, "r")
                           : fopen("/dev/null", "r");
    if (!input) abort();
    FILE *saved = stdin;
    stdin = input;
    command_loop();
    stdin = saved;
    fclose(input);

    close_devices();
    unlink("KALV.LPT");
    memset(&M, 0, sizeof M);
}
