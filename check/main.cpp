// kalvo3-check: runs microprograms against a check file and says PASS or
// FAIL with every difference; over several students' directories it prints a
// grade sheet, as text and as CSV.
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "check/batch.hpp"
#include "check/check_file.hpp"
#include "check/course.hpp"
#include "check/runner.hpp"
#include "core/micro_word.hpp"

namespace {

const char USAGE[] = "Usage:\n"
                     "  kalvo3-check [--profile] [--json FILE] CHECKFILE\n"
                     "      runs every case of CHECKFILE; file names in it are relative to its directory\n"
                     "  kalvo3-check [--profile] [--labels NAME,...] [--csv FILE] [--quiet] [-j N]\n"
                     "               [--time-limit S] [--memory MIB] [--json FILE] [--reports DIR]\n"
                     "               CHECKFILE DIR...\n"
                     "      runs the cases once for each student's directory DIR (where the file names\n"
                     "      are looked up; '@NAME' stays beside CHECKFILE) and prints a grade sheet\n"
                     "\n"
                     "  --profile        executions of every CM word and label of each run\n"
                     "  --labels A,B     a grade-sheet column for each label: its executions in all cases\n"
                     "  --csv FILE       the grade sheet as CSV into FILE too ('-': standard output only)\n"
                     "  --quiet          the grade sheet only, without each case's result\n"
                     "  --json FILE      the points and results of every case as one JSON document\n"
                     "  --reports DIR    a text report for each student in DIR, as the student sees it\n"
                     "  --warnings fail  a case whose program the assembler warned about fails\n"
                     "  --warnings -N    ... or earns N points fewer\n"
                     "  -j N             grade N students at once (default: the processors there are)\n"
                     "  --time-limit S   seconds of wall clock for each student (default 10)\n"
                     "  --memory MIB     memory for each student, in MiB (default 512; 0: no cap)\n"
                     "\n"
                     "Exit status: 0 every case passed, 1 a case failed, 2 the check file or a file\n"
                     "it names is bad, a wrong command line, or results that could not be written.\n"
                     "The format is in docs/checking.md.\n";

struct options {
    int jobs = 1;
    double time_limit = 10;                 // seconds per student
    uint64_t memory_limit = 512ull << 20;   // bytes per student
    bool profile = false;
    bool quiet = false;
    std::vector<std::string> labels;
    std::string csv;
    std::string json;
    std::string reports;
    check::warning_rule warnings;
    std::string check;
    std::vector<std::string> dirs;
};

int usage_error(const std::string &reason)
{
    fprintf(stderr, "kalvo3-check: %s\n%s", reason.c_str(), USAGE);
    return 2;
}

// A write that failed (a full disk, a closed pipe) loses the report: it is
// an error, not a success.
bool written(FILE *out, const std::string &name)
{
    if (fflush(out) == 0 && !ferror(out)) return true;
    fprintf(stderr, "kalvo3-check: %s: writing failed (%s)\n", name.c_str(), strerror(errno));
    return false;
}

// `path` opened for writing; nullptr after saying why not.
FILE *open_for_writing(const std::string &path)
{
    FILE *out = fopen(path.c_str(), "w");
    if (!out) fprintf(stderr, "kalvo3-check: %s: cannot be written (%s)\n", path.c_str(), strerror(errno));
    return out;
}

// Closes a file written to; false after saying why, when it lost something.
bool closed(FILE *out, const std::string &name)
{
    const bool ok = written(out, name);
    if (fclose(out) == 0 || !ok) return ok;
    fprintf(stderr, "kalvo3-check: %s: writing failed (%s)\n", name.c_str(), strerror(errno));
    return false;
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
    // Each word's share of the steps, and the source line that placed it.
    fprintf(out, "        word  %-*s  executions   share  source\n", w, "label");
    auto share = [&r](uint64_t n) {
        char text[16];
        snprintf(text, sizeof text, "%5.1f%%", r.steps ? 100.0 * static_cast<double>(n) / r.steps : 0.0);
        return std::string(text);
    };
    size_t next = 0;   // the first label at or after the word
    for (size_t a = 0; a < r.profile.size(); a++) {
        while (next < r.labels.size() && r.labels[next].address < a) next++;
        const char *name = next < r.labels.size() && r.labels[next].address == a ? r.labels[next].name.c_str() : "";
        if (!r.profile[a]) continue;
        const std::string source = check::source_line(r, static_cast<uint32_t>(a));
        char word[8] = ">FFF";   // the runs beyond the last word
        if (a < CM_WORDS) snprintf(word, sizeof word, "%03zX ", a);
        fprintf(out, "        %s  %-*s  %10llu  %s%s\n", word, w, name, static_cast<unsigned long long>(r.profile[a]),
                share(r.profile[a]).c_str(), source.empty() ? "" : ("  " + source).c_str());
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
    for (const std::string &w : r.warnings) fprintf(out, "      %s\n", w.c_str());
    for (const std::string &n : r.notes) fprintf(out, "      %s\n", n.c_str());
    if (!r.passed && !r.feedback.empty()) fprintf(out, "      feedback: %s\n", r.feedback.c_str());
    if (profile && r.ran) print_profile(out, r);
}

// ---- Grade sheet ----

struct grade_row {
    std::string dir;
    int passed = 0;
    int total = 0;
    uint64_t steps = 0;
    std::vector<std::string> label_cells;   // one per --labels name
    std::string failed;                     // the cases that failed
    std::string problem;                    // why the student's cases did not run, or not all
    uint64_t score = 0, max_score = 0;
    std::vector<std::string> case_points;   // the points each case earned, "" when not graded
};

// The sheet's columns, in order, for the text sheet and the CSV alike; a
// text cell of the CSV may be split in several (passed: passed, cases).
struct sheet_column {
    std::string head;
    bool number;   // right-aligned in the text sheet
    std::vector<std::string> csv_heads;
    std::function<std::vector<std::string>(const grade_row &)> cells;   // the text cell, then the CSV cells
};

std::vector<sheet_column> sheet_columns(const std::vector<std::string> &labels, const check::check_file &file)
{
    std::vector<sheet_column> columns = {
        {"directory",
         false,
         {"directory"},
         [](const grade_row &r) {
             return std::vector<std::string>{r.dir, r.dir};
         }},
        {"passed",
         true,
         {"passed", "cases"},
         [](const grade_row &r) {
             return std::vector<std::string>{std::to_string(r.passed) + "/" + std::to_string(r.total),
                                             std::to_string(r.passed), std::to_string(r.total)};
         }},
    };
    if (file.scored) {   // the points: the total, then each case's
        std::vector<std::string> heads = {"score", "max_score"};
        for (const check::check_case &c : file.cases) heads.push_back(c.name);
        columns.push_back({"points", true, heads, [](const grade_row &r) {
                               std::vector<std::string> cells = {std::to_string(r.score) + "/" +
                                                                     std::to_string(r.max_score),
                                                                 std::to_string(r.score), std::to_string(r.max_score)};
                               cells.insert(cells.end(), r.case_points.begin(), r.case_points.end());
                               return cells;
                           }});
    }
    columns.insert(columns.end(),
                   {
                       {"steps",
                        true,
                        {"steps"},
                        [](const grade_row &r) {
                            return std::vector<std::string>{std::to_string(r.steps), std::to_string(r.steps)};
                        }},
                   });
    for (size_t l = 0; l < labels.size(); l++)
        columns.push_back({labels[l], true, {labels[l]}, [l](const grade_row &r) {
                               return std::vector<std::string>{r.label_cells[l], r.label_cells[l]};
                           }});
    columns.push_back({"failed", false, {"failed"}, [](const grade_row &r) {
                           return std::vector<std::string>{r.failed, r.failed};
                       }});
    columns.push_back({"problem", false, {"problem"}, [](const grade_row &r) {
                           return std::vector<std::string>{r.problem, r.problem};
                       }});
    return columns;
}

using check::csv_cell;

void write_csv(FILE *out, const std::vector<std::string> &labels, const check::check_file &file,
               const std::vector<grade_row> &rows)
{
    const std::vector<sheet_column> columns = sheet_columns(labels, file);
    std::string line;
    for (const sheet_column &c : columns)
        for (const std::string &head : c.csv_heads) {
            if (!line.empty()) line += ',';
            line += csv_cell(head);
        }
    fprintf(out, "%s\n", line.c_str());
    for (const grade_row &row : rows) {
        line.clear();
        for (size_t c = 0; c < columns.size(); c++) {
            const std::vector<std::string> cells = columns[c].cells(row);
            for (size_t i = 1; i < cells.size(); i++) {
                if (c > 0 || i > 1) line += ',';
                line += csv_cell(cells[i]);
            }
        }
        fprintf(out, "%s\n", line.c_str());
    }
}

void write_sheet(FILE *out, const check::check_file &file, const std::vector<std::string> &labels,
                 const std::vector<grade_row> &rows)
{
    const std::string &check = file.path;
    const int cases = static_cast<int>(file.cases.size());
    const std::vector<sheet_column> columns = sheet_columns(labels, file);
    std::vector<std::vector<std::string>> table(1);
    for (const sheet_column &c : columns) table[0].push_back(c.head);
    for (const grade_row &row : rows) {
        table.emplace_back();
        for (const sheet_column &c : columns) table.back().push_back(c.cells(row)[0]);
    }
    std::vector<size_t> width(columns.size(), 0);
    for (const auto &cells : table)
        for (size_t c = 0; c < cells.size(); c++) width[c] = std::max(width[c], cells[c].size());
    fprintf(out, "Grade sheet: %s, %d case%s, %zu director%s\n", check.c_str(), cases, cases == 1 ? "" : "s",
            rows.size(), rows.size() == 1 ? "y" : "ies");
    for (const auto &cells : table) {
        std::string line;
        for (size_t c = 0; c < cells.size(); c++) {
            std::string pad(width[c] - cells[c].size(), ' ');
            line += columns[c].number ? pad + cells[c] : cells[c] + pad;
            if (c + 1 < cells.size()) line += "  ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        fprintf(out, "%s\n", line.c_str());
    }
}

// ---- The two modes ----

// The JSON document into `path` ("-": standard output); false after saying why.
bool write_json(const std::string &path, const std::vector<check::graded_student> &students)
{
    const std::string text = check::course_json(students);
    FILE *out = path == "-" ? stdout : open_for_writing(path);
    if (!out) return false;
    fputs(text.c_str(), out);
    return out == stdout ? written(out, path) : closed(out, path);
}

// A JSON file named on the command line is tried before any grading, so a
// name that cannot be written is said first, not after a long batch.
bool can_write(const std::string &path)
{
    if (path.empty() || path == "-") return true;
    FILE *out = open_for_writing(path);
    if (!out) return false;
    fclose(out);
    return true;
}

std::string case_text(const check::case_result &r, bool profile);

int single_run(const options &opt, const check::check_file &file)
{
    check::run_options run;
    run.profile = opt.profile;
    int passed = 0;
    bool fault = false;
    if (!can_write(opt.json)) return 2;
    FILE *out = opt.json == "-" ? nullptr : stdout;   // "--json -": the document alone
    check::graded_student g;                          // the check's own directory, as one student
    g.dir = file.dir;
    for (const check::check_case &one : file.cases) {
        check::case_result r = check::run_case(file, check::plan_case(file, one), run);
        check::graded_case c{
            r.name, r.ran, r.passed, r.points, r.shown_as, r.feedback, case_text(r, opt.profile), !r.warnings.empty(),
            0};
        check::count_warnings(c, opt.warnings);
        if (out) fputs(c.text.c_str(), out);
        passed += c.passed;
        fault = fault || !r.problems.empty();
        g.cases.push_back(std::move(c));
        for (const std::string &w : r.warnings)
            if (std::find(g.warnings.begin(), g.warnings.end(), w) == g.warnings.end()) g.warnings.push_back(w);
        if (g.problem.empty() && !r.problems.empty()) g.problem = r.problems[0];
    }
    if (out) printf("%d of %zu case%s passed\n", passed, file.cases.size(), file.cases.size() == 1 ? "" : "s");
    if (!opt.json.empty() && !write_json(opt.json, {g})) return 2;
    if (!written(stdout, "standard output")) return 2;
    return fault ? 2 : passed == static_cast<int>(file.cases.size()) ? 0 : 1;
}

// A report's text, as print_case prints it.
std::string case_text(const check::case_result &r, bool profile)
{
    char *text = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&text, &length);
    if (!out) return "";
    print_case(out, r, profile);
    fclose(out);
    std::string copy(text, length);
    free(text);
    return copy;
}

// What a student's row says: the cases passed and failed, and why a case
// did not run, once.
grade_row row_of(const check::student_result &s, const check::check_file &file, size_t labels,
                 const check::graded_student &g)
{
    grade_row row;
    row.dir = s.dir;
    row.total = static_cast<int>(file.cases.size());
    std::vector<uint64_t> label_sum(labels, 0);
    std::vector<bool> label_found(labels, false);
    std::vector<const check::case_record *> by_case(file.cases.size(), nullptr);
    bool any_ran = false;
    for (const check::case_record &c : s.cases) {
        if (c.index < by_case.size()) by_case[c.index] = &c;
        any_ran = any_ran || c.ran;
    }
    for (size_t i = 0; i < by_case.size(); i++) {
        const check::case_record *c = by_case[i];
        std::string failed;   // the case, when it failed, and how
        if (!c) {             // not graded: the student's process ended before
            if (any_ran) failed = file.cases[i].name + " (not run)";
        } else {
            row.passed += g.cases[i].passed;
            row.steps += c->steps;
            if (row.problem.empty()) row.problem = c->reason;
            if (!c->passed && (c->ran || any_ran))
                failed = c->name + (!c->ran ? " (not run)" : c->end_note.empty() ? "" : " (" + c->end_note + ")");
            else if (c->passed && !g.cases[i].passed)
                failed = c->name + " (warnings)";   // failed by --warnings fail
            for (size_t l = 0; l < labels && l < c->label_found.size(); l++)
                if (c->label_found[l]) {
                    label_found[l] = true;
                    label_sum[l] += c->label_sum[l];
                }
        }
        if (!failed.empty()) row.failed += (row.failed.empty() ? "" : "; ") + failed;
        row.case_points.push_back(!c ? "" : std::to_string(g.cases[i].score()));
    }
    if (!s.problem.empty()) row.problem = s.problem;
    row.score = g.score();
    row.max_score = g.max_score();
    for (size_t l = 0; l < labels; l++) row.label_cells.push_back(label_found[l] ? std::to_string(label_sum[l]) : "-");
    return row;
}

// A student's results as the course's outputs take them: every case of the
// check, those not graded failed.
check::graded_student graded_of(const check::student_result &s, const check::check_file &file,
                                const check::warning_rule &rule)
{
    check::graded_student g;
    g.dir = s.dir;
    g.problem = s.problem;
    for (size_t i = 0; i < file.cases.size(); i++) {
        const check::case_plan plan = check::plan_case(file, file.cases[i]);
        check::graded_case c;
        c.name = plan.name;
        c.points = plan.points;
        c.shown_as = plan.shown_as;
        c.feedback = plan.feedback;
        for (const check::case_record &r : s.cases) {
            if (r.index != i) continue;
            c.ran = r.ran;
            c.passed = r.passed;
            c.text = r.report;
            c.warned = !r.warnings.empty();
            check::count_warnings(c, rule);
            if (g.problem.empty()) g.problem = r.reason;
            for (size_t at = 0, end; at < r.warnings.size(); at = end + 1) {
                end = r.warnings.find('\n', at);
                if (end == std::string::npos) end = r.warnings.size();
                const std::string w = r.warnings.substr(at, end - at);
                if (!w.empty() && std::find(g.warnings.begin(), g.warnings.end(), w) == g.warnings.end())
                    g.warnings.push_back(w);
            }
        }
        if (c.text.empty()) {   // not graded: the student's process ended before
            check::case_result not_run;
            not_run.name = c.name;
            not_run.feedback = c.feedback;
            c.text = case_text(not_run, false);
        }
        g.cases.push_back(std::move(c));
    }
    if (s.problem == "not a directory") g.problem = s.dir + ": not a directory";
    return g;
}

int batch_run(const options &opt, const check::check_file &file)
{
    const bool csv_only = opt.csv == "-", json_only = opt.json == "-";
    if (csv_only && json_only) return usage_error("--csv - and --json - both want standard output");
    FILE *out = csv_only || json_only ? nullptr : stdout;
    std::vector<check::graded_student> graded;
    if (!can_write(opt.json)) return 2;
    if (!opt.reports.empty()) {
        std::error_code code;
        std::filesystem::create_directories(opt.reports, code);
        if (!std::filesystem::is_directory(opt.reports, code)) {
            fprintf(stderr, "kalvo3-check: %s: the reports' directory cannot be made\n", opt.reports.c_str());
            return 2;
        }
    }
    bool reports_ok = true;
    std::set<std::string> report_names;
    std::vector<grade_row> rows;
    bool all_passed = true, check_fault = false;

    // The CSV file is opened first: a name that cannot be written is said
    // before the class is graded, not after.
    FILE *csv = opt.csv.empty() ? nullptr : csv_only ? stdout : open_for_writing(opt.csv);
    if (!opt.csv.empty() && !csv) return 2;
    auto close_csv = [&]() {
        if (csv && csv != stdout) fclose(csv);
    };

    check::batch_options batch;
    batch.jobs = opt.jobs;
    batch.time_limit = opt.time_limit;
    batch.memory_limit = opt.memory_limit;
    batch.profile = opt.profile;
    batch.labels = opt.labels;
    const bool profile = opt.profile;
    batch.report = [profile](const check::case_result &r) { return case_text(r, profile); };

    auto done = [&](const check::student_result &s) {
        for (const check::case_record &c : s.cases)
            if (c.check_fault) {
                fputs(c.fault.c_str(), stderr);
                check_fault = true;
                return false;
            }
        check::graded_student g = graded_of(s, file, opt.warnings);
        grade_row row = row_of(s, file, opt.labels.size(), g);
        if (out && !opt.quiet) {
            fprintf(out, "== %s\n", s.dir.c_str());
            for (const check::case_record &c : s.cases)
                fputs(c.index < g.cases.size() ? g.cases[c.index].text.c_str() : c.report.c_str(), out);
            if (!s.problem.empty()) fprintf(out, "      %s\n", g.problem.c_str());
        }
        all_passed = all_passed && row.passed == row.total;
        rows.push_back(std::move(row));
        if (!opt.reports.empty() && reports_ok) {
            // Two directories with one name ("a/b", "a_b") keep a report each.
            const std::string base = check::report_file_name(s.dir);
            std::string name = base;
            for (int n = 2; !report_names.insert(name).second; n++)
                name = base.substr(0, base.size() - 4) + "~" + std::to_string(n) + ".txt";
            const std::string path = (std::filesystem::path(opt.reports) / name).string();
            FILE *report = open_for_writing(path);
            if (!report) {
                reports_ok = false;
            } else {
                fputs(check::student_report(file.path, g).c_str(), report);
                reports_ok = closed(report, path) && reports_ok;
            }
        }
        if (!opt.json.empty()) graded.push_back(std::move(g));
        return true;
    };
    std::string error;
    if (!check::grade_class(file, opt.dirs, batch, done, error)) {
        fprintf(stderr, "kalvo3-check: %s\n", error.c_str());
        close_csv();
        return 2;
    }
    if (check_fault) {
        close_csv();
        return 2;
    }
    if (out) {
        if (!opt.quiet) fprintf(out, "\n");
        write_sheet(out, file, opt.labels, rows);
    }
    if (csv) {
        write_csv(csv, opt.labels, file, rows);
        if (csv != stdout && !closed(csv, opt.csv)) return 2;
    }
    if (!opt.json.empty() && !write_json(opt.json, graded)) return 2;
    if (!reports_ok) return 2;
    if (!written(stdout, "standard output")) return 2;
    return all_passed ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);   // a closed pipe is a failed write, reported as such
    options opt;
    bool grading_option = false;
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    opt.jobs = processors > 0 ? static_cast<int>(std::min(processors, 256L)) : 1;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--profile") {
            opt.profile = true;
        } else if (arg == "--quiet") {
            opt.quiet = true;
        } else if (const bool joined = arg.size() > 2 && arg.compare(0, 2, "-j") == 0;   // -jN
                   joined || arg == "-j" || arg == "--jobs" || arg == "--time-limit" || arg == "--memory") {
            grading_option = true;
            if (!joined && i + 1 >= argc) return usage_error(arg + " needs a value");
            const std::string value = joined ? arg.substr(2) : argv[++i];
            const std::string name = joined ? "-j" : arg;
            char *end = nullptr;
            errno = 0;
            if (name == "--time-limit") {
                const double seconds = strtod(value.c_str(), &end);
                if (value.empty() || *end || errno || !(seconds > 0 && seconds <= 86400))
                    return usage_error("--time-limit needs seconds, more than 0 and at most 86400");
                opt.time_limit = seconds;
            } else {
                const unsigned long long n = strtoull(value.c_str(), &end, 10);
                if (value.empty() || *end || errno || value[0] == '-')
                    return usage_error(name + " needs a whole number");
                if (name == "--memory") {
                    if (n > (1ull << 32)) return usage_error("--memory is given in MiB, at most 4294967296");
                    opt.memory_limit = n << 20;
                } else {
                    if (n < 1 || n > 256) return usage_error("-j needs 1 to 256 students at once");
                    opt.jobs = static_cast<int>(n);
                }
            }
        } else if (arg == "--warnings") {
            if (i + 1 >= argc) return usage_error("--warnings needs fail or -N");
            const std::string value = argv[++i];
            char *end = nullptr;
            const unsigned long n = value.size() > 1 && value[0] == '-' ? strtoul(value.c_str() + 1, &end, 10) : 0;
            if (value == "fail")
                opt.warnings.fail = true;
            else if (end && *end == '\0' && isdigit(static_cast<unsigned char>(value[1])) && n >= 1 &&
                     n <= check::MAX_POINTS)
                opt.warnings.points = static_cast<uint32_t>(n);
            else
                return usage_error("--warnings needs fail, or -N for N points taken (1 to 1000000)");
        } else if (arg == "--labels" || arg == "--csv" || arg == "--json" || arg == "--reports") {
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            std::string value = argv[++i];
            if (arg == "--csv" || arg == "--json" || arg == "--reports") {
                if (value.empty()) return usage_error(arg + " needs a file name");
                (arg == "--csv" ? opt.csv : arg == "--json" ? opt.json : opt.reports) = value;
                grading_option = grading_option || arg == "--reports";
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
    if (opt.dirs.empty() && (!opt.labels.empty() || !opt.csv.empty() || opt.quiet || grading_option))
        return usage_error(
            "--labels, --csv, --quiet, -j, --time-limit, --memory and --reports belong to a grade sheet: name the "
            "students' directories");

    check::check_file file;
    std::vector<std::string> errors;
    if (!check::read_check_file(opt.check, file, errors)) {
        for (const std::string &e : errors) fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }
    return opt.dirs.empty() ? single_run(opt, file) : batch_run(opt, file);
}
