// kalvo3-check: runs microprograms against a check file and says PASS or
// FAIL with every difference; over several students' directories it prints a
// grade sheet, as text and as CSV.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "check/check_file.hpp"
#include "check/runner.hpp"
#include "core/micro_word.hpp"

namespace {

const char USAGE[] =
    "Usage:\n"
    "  kalvo3-check [--profile] CHECKFILE\n"
    "      runs every case of CHECKFILE; file names in it are relative to its directory\n"
    "  kalvo3-check [--profile] [--labels NAME,...] [--csv FILE] [--quiet] CHECKFILE DIR...\n"
    "      runs the cases once for each student's directory DIR (where the file names\n"
    "      are looked up; '@NAME' stays beside CHECKFILE) and prints a grade sheet\n"
    "\n"
    "  --profile        executions of every CM word and label of each run\n"
    "  --labels A,B     a grade-sheet column for each label: its executions in all cases\n"
    "  --csv FILE       the grade sheet as CSV into FILE too ('-': standard output only)\n"
    "  --quiet          the grade sheet only, without each case's result\n"
    "\n"
    "Exit status: 0 every case passed, 1 a case failed, 2 the check file or a file\n"
    "it names is bad, or a wrong command line. The format is in docs/checking.md.\n";

struct options {
    bool profile = false;
    bool quiet = false;
    std::vector<std::string> labels;
    std::string csv;
    std::string check;
    std::vector<std::string> dirs;
};

int usage_error(const std::string &reason)
{
    fprintf(stderr, "kalvo3-check: %s\n%s", reason.c_str(), USAGE);
    return 2;
}

// ---- Reports of one case ----

void print_profile(FILE *out, const check::case_result &r)
{
    fprintf(out, "      profile: %u steps\n", r.steps);
    std::vector<uint64_t> counts = check::label_counts(r.labels, r.profile);
    size_t width = 5;
    for (const check::label &l : r.labels) width = std::max(width, l.name.size());
    const int w = static_cast<int>(width);
    if (!r.labels.empty()) {
        fprintf(out, "        %-*s  address  executions\n", w, "label");
        for (size_t i = 0; i < r.labels.size(); i++)
            fprintf(out, "        %-*s  %03X      %10llu\n", w, r.labels[i].name.c_str(), r.labels[i].address,
                    static_cast<unsigned long long>(counts[i]));
    }
    fprintf(out, "        word  %-*s  executions\n", w, "label");
    size_t next = 0;   // the first label at or after the word
    for (size_t a = 0; a < r.profile.size(); a++) {
        while (next < r.labels.size() && r.labels[next].address < a) next++;
        const char *name = next < r.labels.size() && r.labels[next].address == a ? r.labels[next].name.c_str() : "";
        if (!r.profile[a]) continue;
        if (a < CM_WORDS)
            fprintf(out, "        %03zX   %-*s  %10llu\n", a, w, name, static_cast<unsigned long long>(r.profile[a]));
        else
            fprintf(out, "        >FFF  %-*s  %10llu\n", w, "", static_cast<unsigned long long>(r.profile[a]));
    }
}

void print_case(FILE *out, const check::case_result &r, bool profile)
{
    if (r.ran)
        fprintf(out, "%s  %s  (%s, %u step%s)\n", r.passed ? "PASS" : "FAIL", r.name.c_str(), r.ended.c_str(), r.steps,
                r.steps == 1 ? "" : "s");
    else
        fprintf(out, "FAIL  %s  (not run)\n", r.name.c_str());
    for (const std::string &p : r.problems) fprintf(out, "      %s\n", p.c_str());
    for (const std::string &d : r.differences) fprintf(out, "      %s\n", d.c_str());
    if (profile && r.ran) print_profile(out, r);
}

// ---- Grade sheet ----

struct grade_row {
    std::string dir;
    int passed = 0;
    int total = 0;
    uint64_t steps = 0;
    std::vector<std::string> label_cells;   // one per --labels name
    std::string notes;                      // failed cases, or why nothing ran
};

std::string csv_cell(const std::string &text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

void write_csv(FILE *out, const std::vector<std::string> &labels, const std::vector<grade_row> &rows)
{
    fprintf(out, "directory,passed,cases,steps");
    for (const std::string &l : labels) fprintf(out, ",%s", csv_cell(l).c_str());
    fprintf(out, ",failed\n");
    for (const grade_row &row : rows) {
        fprintf(out, "%s,%d,%d,%llu", csv_cell(row.dir).c_str(), row.passed, row.total,
                static_cast<unsigned long long>(row.steps));
        for (const std::string &cell : row.label_cells) fprintf(out, ",%s", cell.c_str());
        fprintf(out, ",%s\n", csv_cell(row.notes).c_str());
    }
}

void write_sheet(FILE *out, const std::string &check, int cases, const std::vector<std::string> &labels,
                 const std::vector<grade_row> &rows)
{
    std::vector<std::string> head = {"directory", "passed", "steps"};
    head.insert(head.end(), labels.begin(), labels.end());
    head.push_back("failed");
    std::vector<std::vector<std::string>> table = {head};
    for (const grade_row &row : rows) {
        std::vector<std::string> cells = {row.dir, std::to_string(row.passed) + "/" + std::to_string(row.total),
                                          std::to_string(row.steps)};
        cells.insert(cells.end(), row.label_cells.begin(), row.label_cells.end());
        cells.push_back(row.notes);
        table.push_back(cells);
    }
    std::vector<size_t> width(head.size(), 0);
    for (const auto &cells : table)
        for (size_t c = 0; c < cells.size(); c++) width[c] = std::max(width[c], cells[c].size());
    fprintf(out, "Grade sheet: %s, %d case%s, %zu director%s\n", check.c_str(), cases, cases == 1 ? "" : "s",
            rows.size(), rows.size() == 1 ? "y" : "ies");
    for (const auto &cells : table) {
        std::string line;
        for (size_t c = 0; c < cells.size(); c++) {
            bool number = c > 0 && c + 1 < cells.size();   // right-aligned
            std::string pad(width[c] - cells[c].size(), ' ');
            line += number ? pad + cells[c] : cells[c] + (c + 1 < cells.size() ? pad : "");
            if (c + 1 < cells.size()) line += "  ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        fprintf(out, "%s\n", line.c_str());
    }
}

// ---- The two modes ----

int single_run(const options &opt, const check::check_file &file)
{
    check::run_options run;
    run.profile = opt.profile;
    int passed = 0;
    bool fault = false;
    for (const check::check_case &one : file.cases) {
        check::case_result r = check::run_case(file, check::plan_case(file, one), run);
        print_case(stdout, r, opt.profile);
        passed += r.passed;
        fault = fault || !r.problems.empty();
    }
    printf("%d of %zu case%s passed\n", passed, file.cases.size(), file.cases.size() == 1 ? "" : "s");
    return fault ? 2 : passed == static_cast<int>(file.cases.size()) ? 0 : 1;
}

int batch_run(const options &opt, const check::check_file &file)
{
    const bool csv_only = opt.csv == "-";
    FILE *out = csv_only ? nullptr : stdout;
    std::vector<grade_row> rows;
    bool all_passed = true;
    for (const std::string &dir : opt.dirs) {
        grade_row row;
        row.dir = dir;
        row.total = static_cast<int>(file.cases.size());
        std::vector<uint64_t> label_sum(opt.labels.size(), 0);
        std::vector<bool> label_found(opt.labels.size(), false);
        if (out && !opt.quiet) fprintf(out, "== %s\n", dir.c_str());
        std::error_code code;
        if (!std::filesystem::is_directory(dir, code)) {
            row.notes = "not a directory";
            if (out && !opt.quiet) fprintf(out, "      %s: not a directory\n", dir.c_str());
        } else {
            check::run_options run;
            run.batch = true;
            run.student_dir = dir;
            run.profile = opt.profile || !opt.labels.empty();
            for (const check::check_case &one : file.cases) {
                check::case_result r = check::run_case(file, check::plan_case(file, one), run);
                if (r.check_fault) {
                    for (const std::string &p : r.problems) fprintf(stderr, "%s\n", p.c_str());
                    return 2;
                }
                if (out && !opt.quiet) print_case(out, r, opt.profile);
                row.passed += r.passed;
                row.steps += r.steps;
                if (!r.passed)
                    row.notes += (row.notes.empty() ? "" : "; ") + r.name +
                                 (!r.ran ? " (not run)" : r.ended != "halt" ? " (" + r.ended + ")" : "");
                std::vector<uint64_t> counts = check::label_counts(r.labels, r.profile);
                for (size_t l = 0; l < opt.labels.size(); l++)
                    for (size_t i = 0; i < r.labels.size(); i++)
                        if (r.labels[i].name == opt.labels[l]) {
                            label_sum[l] += counts[i];
                            label_found[l] = true;
                            break;
                        }
            }
        }
        for (size_t l = 0; l < opt.labels.size(); l++)
            row.label_cells.push_back(label_found[l] ? std::to_string(label_sum[l]) : "-");
        all_passed = all_passed && row.passed == row.total;
        rows.push_back(row);
    }
    if (out) {
        if (!opt.quiet) fprintf(out, "\n");
        write_sheet(out, file.path, static_cast<int>(file.cases.size()), opt.labels, rows);
    }
    if (!opt.csv.empty()) {
        FILE *csv = csv_only ? stdout : fopen(opt.csv.c_str(), "w");
        if (!csv) {
            fprintf(stderr, "kalvo3-check: %s: cannot be written (%s)\n", opt.csv.c_str(), strerror(errno));
            return 2;
        }
        write_csv(csv, opt.labels, rows);
        if (csv != stdout && fclose(csv) != 0) {
            fprintf(stderr, "kalvo3-check: %s: writing failed\n", opt.csv.c_str());
            return 2;
        }
    }
    return all_passed ? 0 : 1;
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
        } else if (arg == "--profile") {
            opt.profile = true;
        } else if (arg == "--quiet") {
            opt.quiet = true;
        } else if (arg == "--labels" || arg == "--csv") {
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            std::string value = argv[++i];
            if (arg == "--csv") {
                opt.csv = value;
                continue;
            }
            for (size_t start = 0, end; start <= value.size(); start = end + 1) {
                end = value.find(',', start);
                if (end == std::string::npos) end = value.size();
                if (end > start) opt.labels.push_back(value.substr(start, end - start));
            }
            if (opt.labels.empty()) return usage_error("--labels needs label names");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (opt.check.empty()) {
            opt.check = arg;
        } else {
            opt.dirs.push_back(arg);
        }
    }
    if (opt.check.empty()) return usage_error("no check file");
    if (opt.dirs.empty() && (!opt.labels.empty() || !opt.csv.empty() || opt.quiet))
        return usage_error("--labels, --csv and --quiet belong to a grade sheet: name the students' directories");

    check::check_file file;
    std::vector<std::string> errors;
    if (!check::read_check_file(opt.check, file, errors)) {
        for (const std::string &e : errors) fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }
    return opt.dirs.empty() ? single_run(opt, file) : batch_run(opt, file);
}
