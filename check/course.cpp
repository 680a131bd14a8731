// A class's results for a course (see course.hpp).
#include "check/course.hpp"

#include <algorithm>
#include <cstdlib>

namespace check {

uint64_t graded_student::score() const
{
    uint64_t sum = 0;
    for (const graded_case &c : cases) sum += c.score();
    return sum;
}

uint64_t graded_student::max_score() const
{
    uint64_t sum = 0;
    for (const graded_case &c : cases) sum += c.points;
    return sum;
}

void count_warnings(graded_case &c, const warning_rule &rule)
{
    if (!c.warned || !c.passed) return;
    if (rule.fail) {
        c.passed = false;
        c.text.replace(0, 4, "FAIL");
        c.text += "      failed: the assembler warned about the program\n";
        if (!c.feedback.empty()) c.text += "      feedback: " + c.feedback + "\n";
    } else if (rule.points > 0) {
        c.taken = std::min(rule.points, c.points);
        c.text += "      ";
        c.text += std::to_string(c.taken);
        c.text += c.taken == 1 ? " point" : " points";
        c.text += " taken: the assembler warned about the program\n";
    }
}

std::string case_output(const graded_case &c)
{
    if (c.shown_as != visibility::hidden) return c.text;   // the feedback is among its lines
    std::string out = c.passed ? "passed\n" : "failed\n";
    if (!c.passed && !c.feedback.empty()) out += c.feedback + (c.feedback.back() == '\n' ? "" : "\n");
    return out;
}

std::string json_string(const std::string &text) { return quoted(text, "\\u%04x"); }

std::string course_json(const std::vector<graded_student> &students)
{
    std::string out = "{\"students\": [";
    for (size_t s = 0; s < students.size(); s++) {
        const graded_student &st = students[s];
        out += s ? ",\n  " : "\n  ";
        out += "{\"student\": " + json_string(st.dir) + ", \"score\": " + std::to_string(st.score()) +
               ", \"max_score\": " + std::to_string(st.max_score()) +
               ", \"problem\": " + (st.problem.empty() ? std::string("null") : json_string(st.problem)) +
               ", \"tests\": [";
        for (size_t t = 0; t < st.cases.size(); t++) {
            const graded_case &c = st.cases[t];
            out += t ? ",\n    " : "\n    ";
            out += "{\"name\": " + json_string(c.name) + ", \"score\": " + std::to_string(c.score()) +
                   ", \"max_score\": " + std::to_string(c.points) + ", \"output\": " + json_string(case_output(c)) +
                   ", \"visibility\": \"" + visibility_name(c.shown_as) + "\"}";
        }
        out += st.cases.empty() ? "]}" : "\n  ]}";
    }
    out += students.empty() ? "]}\n" : "\n]}\n";
    return out;
}

std::string student_report(const std::string &check, const graded_student &s)
{
    std::string out = "Results of " + check + " for " + s.dir + "\n";
    out += "Score: " + std::to_string(s.score()) + " of " + std::to_string(s.max_score()) + " points\n";
    if (!s.problem.empty()) out += "Problem: " + s.problem + "\n";
    int hidden = 0, hidden_passed = 0;
    uint64_t hidden_points = 0, hidden_score = 0;
    out += "\n";
    for (const graded_case &c : s.cases) {
        if (c.shown_as == visibility::hidden) {
            hidden++;
            hidden_passed += c.passed;
            hidden_points += c.points;
            hidden_score += c.score();
            if (!c.passed && !c.feedback.empty()) out += "A hidden case failed: " + c.feedback + "\n";
            continue;
        }
        // The warnings are said once, below, not under every case.
        std::string text = case_output(c);
        for (const std::string &w : s.warnings)
            for (size_t at; (at = text.find("      " + w + "\n")) != std::string::npos;) text.erase(at, w.size() + 7);
        out += '[';
        out += std::to_string(c.score());
        out += '/';
        out += std::to_string(c.points);
        out += "] ";
        out += text;
    }
    if (hidden > 0)
        out += "Hidden cases: " + std::to_string(hidden_passed) + " of " + std::to_string(hidden) + " passed, " +
               std::to_string(hidden_score) + " of " + std::to_string(hidden_points) + " points\n";
    if (!s.warnings.empty()) {
        out += "\nThe assembler's warnings:\n";
        for (const std::string &w : s.warnings) out += "  " + w + "\n";
    }
    return out;
}

std::string report_file_name(const std::string &dir)
{
    std::string name;
    for (char c : dir) name += c == '/' ? '_' : c;
    while (!name.empty() && (name.back() == '_' || name.back() == '.')) name.pop_back();
    while (!name.empty() && (name[0] == '_' || name[0] == '.')) name.erase(0, 1);
    return (name.empty() ? "student" : name) + ".txt";
}

std::string csv_cell(const std::string &text)
{
    std::string cell = text;
    if (cell.size() > 1 && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@')) {
        char *end = nullptr;
        strtod(cell.c_str(), &end);
        if (*end != '\0') cell = "'" + cell;   // a formula to a spreadsheet, unless it is a number
    }
    if (cell.find_first_of(",\"\n\r") == std::string::npos) return cell;
    std::string out = "\"";
    for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}   // namespace check
