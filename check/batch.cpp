// Grading a class (see batch.hpp): confinement of a student's files, the
// records that carry results from a student's process, and the processes.
#include "check/batch.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <new>

namespace check {

namespace {

namespace fs = std::filesystem;

// A name in the directory that differs from `name` only in case, or "".
std::string other_case(const fs::path &path)
{
    const std::string want = path.filename().string();
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    DIR *dir = opendir(parent.c_str());
    if (!dir) return "";
    std::string found;
    while (const dirent *entry = readdir(dir))
        if (strcasecmp(entry->d_name, want.c_str()) == 0 && want != entry->d_name) {
            found = entry->d_name;
            break;
        }
    closedir(dir);
    return found;
}

const char *kind_of(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFSOCK: return "a socket";
    default: return "not a file";
    }
}

}   // namespace

std::string confine(const std::string &dir, const std::string &path)
{
    std::error_code code;
    const fs::path root = fs::absolute(dir, code).lexically_normal();
    const fs::path named = fs::absolute(path, code).lexically_normal();
    const fs::path inside = named.lexically_relative(root);
    if (inside.empty() || *inside.begin() == "..") return "outside the directory";

    char real_root[PATH_MAX], real[PATH_MAX];
    if (!realpath(dir.c_str(), real_root)) return "the directory cannot be read (" + std::string(strerror(errno)) + ")";
    if (!realpath(path.c_str(), real)) {
        const int why = errno;
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return "a link to a missing file";
        if (why == ENOENT || why == ENOTDIR) {
            const std::string other = other_case(path);
            return other.empty() ? "no such file" : "no such file (there is " + other + ")";
        }
        return "cannot be read (" + std::string(strerror(why)) + ")";
    }
    const std::string base = std::string(real_root) + (strcmp(real_root, "/") == 0 ? "" : "/");
    if (strncmp(real, base.c_str(), base.size()) != 0) return "outside the directory (a link leads out)";

    // Opened without waiting and without following a last link, so a FIFO
    // or a device is looked at, never read.
    const int fd = open(real, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "cannot be opened (" + std::string(strerror(errno)) + ")";
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    close(fd);
    if (!known) return "cannot be read";
    if (!S_ISREG(st.st_mode)) return std::string("not a regular file (") + kind_of(st.st_mode) + ")";
    return "";
}

// ---- Records ----
//
// A record is a field holding fields; a field is its length in decimal, a
// ':' and its bytes.

namespace {

void put(std::string &out, const std::string &field)
{
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

void put(std::string &out, uint64_t number) { put(out, std::to_string(number)); }

class fields {
public:
    explicit fields(const std::string &bytes) : bytes_(bytes) {}

    bool at_end() const { return at_ == bytes_.size(); }

    bool take(std::string &field)
    {
        size_t length = 0, digits = 0;
        while (at_ < bytes_.size() && bytes_[at_] >= '0' && bytes_[at_] <= '9' && digits < 18) {
            length = length * 10 + static_cast<size_t>(bytes_[at_++] - '0');
            digits++;
        }
        if (digits == 0 || at_ >= bytes_.size() || bytes_[at_] != ':' || bytes_.size() - at_ - 1 < length) return false;
        field = bytes_.substr(at_ + 1, length);
        at_ += 1 + length;
        return true;
    }

    bool take(uint64_t &number)
    {
        std::string text;
        if (!take(text) || text.empty() || text.size() > 20) return false;
        number = 0;
        for (char c : text) {
            const uint64_t digit = static_cast<uint64_t>(c - '0');
            if (c < '0' || c > '9' || number > (UINT64_MAX - digit) / 10) return false;
            number = number * 10 + digit;
        }
        return true;
    }

    bool take(bool &flag)
    {
        uint64_t n;
        if (!take(n) || n > 1) return false;
        flag = n == 1;
        return true;
    }

private:
    const std::string &bytes_;
    size_t at_ = 0;
};

bool decode_record(const std::string &body, case_record &r)
{
    fields in(body);
    uint64_t index, labels;
    if (!in.take(index) || !in.take(r.name) || !in.take(r.report) || !in.take(r.ran) || !in.take(r.passed) ||
        !in.take(r.steps) || !in.take(r.end_note) || !in.take(r.reason) || !in.take(r.check_fault) ||
        !in.take(r.fault) || !in.take(r.warnings) || !in.take(labels) || labels > 4096)
        return false;
    r.index = static_cast<size_t>(index);
    r.label_found.assign(labels, false);
    r.label_sum.assign(labels, 0);
    for (size_t l = 0; l < labels; l++) {
        bool found;
        if (!in.take(found) || !in.take(r.label_sum[l])) return false;
        r.label_found[l] = found;
    }
    return in.at_end();
}

}   // namespace

std::string encode_record(const case_record &r)
{
    std::string body;
    put(body, r.index);
    put(body, r.name);
    put(body, r.report);
    put(body, r.ran);
    put(body, r.passed);
    put(body, r.steps);
    put(body, r.end_note);
    put(body, r.reason);
    put(body, r.check_fault);
    put(body, r.fault);
    put(body, r.warnings);
    put(body, r.label_found.size());
    for (size_t l = 0; l < r.label_found.size(); l++) {
        put(body, r.label_found[l]);
        put(body, r.label_sum[l]);
    }
    std::string out;
    put(out, body);
    return out;
}

bool decode_records(const std::string &bytes, std::vector<case_record> &out)
{
    fields in(bytes);
    while (!in.at_end()) {
        std::string body;
        case_record r;
        if (!in.take(body) || !decode_record(body, r)) return false;
        out.push_back(std::move(r));
    }
    return true;
}

// ---- A student's process ----

namespace {

constexpr int OUT_OF_MEMORY_EXIT = 86;   // a student's process that ran out of memory

case_record grade_case(const check_file &file, size_t index, const std::string &dir, const batch_options &options)
{
    run_options run;
    run.batch = true;
    run.student_dir = dir;
    run.profile = options.profile || !options.labels.empty();
    const case_plan plan = plan_case(file, file.cases[index]);
    const case_result r = run_case(file, plan, run);
    case_record c;
    c.index = index;
    c.name = r.name;
    c.report = options.report ? options.report(r) : "";
    c.ran = r.ran;
    c.passed = r.passed;
    c.steps = r.steps;
    c.end_note = r.ran && !r.end_as_expected ? r.ended : "";
    for (const std::string &w : r.warnings) c.warnings += w + "\n";
    c.reason = r.reason;
    c.check_fault = r.check_fault;
    for (const std::string &p : r.problems) c.fault += p + "\n";
    if (!c.check_fault) c.fault.clear();
    const std::vector<uint64_t> counts = label_counts(r.labels, r.profile);
    for (const std::string &wanted : options.labels) {
        bool found = false;
        uint64_t sum = 0;
        for (size_t i = 0; i < r.labels.size(); i++)
            if (r.labels[i].name == wanted) {
                found = true;
                sum = counts[i];
                break;
            }
        c.label_found.push_back(found);
        c.label_sum.push_back(sum);
    }
    return c;
}

bool write_all(int fd, const std::string &bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

void out_of_memory() { _exit(OUT_OF_MEMORY_EXIT); }

[[noreturn]] void student_process(const check_file &file, const std::string &dir, size_t first, size_t last,
                                  const batch_options &options, int fd)
{
    // A fault ends the process by its signal, which the grading process
    // reports, also where a sanitizer would catch it and exit.
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) signal(fault, SIG_DFL);
#if !defined(__SANITIZE_ADDRESS__)   // the sanitizer's shadow memory needs more address space than any cap
    if (options.memory_limit > 0) {
        const rlimit cap{options.memory_limit, options.memory_limit};
        setrlimit(RLIMIT_AS, &cap);
    }
#endif
    std::set_new_handler(out_of_memory);
    for (size_t i = first; i < last; i++)
        if (!write_all(fd, encode_record(grade_case(file, i, dir, options)))) _exit(1);
    _exit(0);
}

// ---- The grading process ----

struct job {
    size_t student = 0;
    size_t first = 0, last = 0;   // the cases, [first, last)
    pid_t pid = -1;
    int fd = -1;           // the read end of the student's pipe
    std::string bytes;     // read so far
    bool killed = false;   // by the time limit
};

job cases_of(size_t student, size_t first, size_t last)
{
    job j;
    j.student = student;
    j.first = first;
    j.last = last;
    return j;
}

struct student_state {
    student_result result;
    std::vector<bool> graded;
    int running = 0;     // jobs started and not ended
    size_t queued = 0;   // jobs waiting
    std::chrono::steady_clock::time_point deadline;
    bool started = false;
};

std::string seconds_text(double seconds)
{
    char text[32];
    snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}   // namespace

bool grade_class(const check_file &file, const std::vector<std::string> &dirs, const batch_options &options,
                 const std::function<bool(const student_result &)> &done, std::string &error)
{
    using clock = std::chrono::steady_clock;
    const size_t cases = file.cases.size();
    std::vector<student_state> students(dirs.size());
    std::deque<job> waiting;
    std::vector<job> running;
    for (size_t s = 0; s < dirs.size(); s++) {
        students[s].result.dir = dirs[s];
        students[s].graded.assign(cases, false);
        std::error_code code;
        if (!fs::is_directory(dirs[s], code)) {
            students[s].result.problem = "not a directory";
            continue;
        }
        waiting.push_back(cases_of(s, 0, cases));
        students[s].queued = 1;
    }
    size_t next_done = 0;   // the first student not yet handed to `done`
    bool stopped = false;

    auto stop_all = [&]() {
        for (job &j : running) {
            kill(j.pid, SIGKILL);
            waitpid(j.pid, nullptr, 0);
            close(j.fd);
        }
        running.clear();
        waiting.clear();
    };

    auto hand_on = [&]() {
        while (!stopped && next_done < students.size()) {
            student_state &st = students[next_done];
            if (st.running > 0 || st.queued > 0) return;
            std::stable_sort(st.result.cases.begin(), st.result.cases.end(),
                             [](const case_record &a, const case_record &b) { return a.index < b.index; });
            if (!done(st.result)) {
                stopped = true;
                return;
            }
            st.result.cases.clear();
            st.result.cases.shrink_to_fit();
            next_done++;
        }
    };

    auto start = [&](job j) -> bool {
        student_state &st = students[j.student];
        if (!st.started) {
            st.started = true;
            st.deadline = clock::now() + std::chrono::microseconds(static_cast<int64_t>(options.time_limit * 1e6));
        }
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            error = std::string("a pipe cannot be made (") + strerror(errno) + ")";
            return false;
        }
        fflush(stdout);
        fflush(stderr);
        const pid_t pid = fork();
        if (pid < 0) {
            error = std::string("a process cannot be started (") + strerror(errno) + ")";
            close(ends[0]);
            close(ends[1]);
            return false;
        }
        if (pid == 0) {
            close(ends[0]);
            for (const job &other : running) close(other.fd);
            student_process(file, dirs[j.student], j.first, j.last, options, ends[1]);
        }
        close(ends[1]);
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        j.pid = pid;
        j.fd = ends[0];
        st.queued--;
        st.running++;
        running.push_back(std::move(j));
        return true;
    };

    // A process has ended: its records, and why it ended when not by itself.
    auto finish = [&](job &j, int status) {
        student_state &st = students[j.student];
        st.running--;
        std::vector<case_record> records;
        decode_records(j.bytes, records);   // the whole records of a process that died while writing
        for (case_record &r : records)
            if (r.index >= j.first && r.index < j.last && !st.graded[r.index]) {
                st.graded[r.index] = true;
                st.result.cases.push_back(std::move(r));
            }
        std::string why;
        if (j.killed)
            why = "timed out (" + seconds_text(options.time_limit) + " s)";
        else if (WIFSIGNALED(status))
            why = "crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
        else if (WIFEXITED(status) && WEXITSTATUS(status) == OUT_OF_MEMORY_EXIT)
            why = "out of memory";
        else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            why = "crashed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        if (why.empty()) return;
        size_t failed_case = j.first;
        while (failed_case < j.last && st.graded[failed_case]) failed_case++;
        if (failed_case < j.last && cases > 1) why += " in case " + file.cases[failed_case].name;
        if (st.result.problem.empty()) st.result.problem = why;
        // The cases after the one that failed, one by one, so one bad case
        // does not cost the others; not after the time is up.
        if (j.killed || j.last - j.first == 1) return;
        for (size_t c = j.last; c-- > failed_case + 1;) {
            waiting.push_front(cases_of(j.student, c, c + 1));
            st.queued++;
        }
    };

    while (!stopped && (!waiting.empty() || !running.empty())) {
        while (running.size() < static_cast<size_t>(std::max(1, options.jobs)) && !waiting.empty()) {
            job j = std::move(waiting.front());
            waiting.pop_front();
            if (students[j.student].started && clock::now() >= students[j.student].deadline) {
                students[j.student].queued--;   // no time left for this student
                continue;
            }
            if (!start(std::move(j))) {
                stop_all();
                return false;
            }
        }
        if (running.empty()) continue;   // every job left waiting had no time left
        std::vector<pollfd> polled;
        auto now = clock::now();
        int wait_ms = 1000;
        for (const job &j : running) {
            polled.push_back({j.fd, POLLIN, 0});
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(students[j.student].deadline - now);
            wait_ms = std::min<int>(wait_ms, static_cast<int>(std::max<int64_t>(left.count() + 1, 0)));
        }
        if (poll(polled.data(), polled.size(), wait_ms) < 0 && errno != EINTR) {
            error = std::string("waiting for the students' processes failed (") + strerror(errno) + ")";
            stop_all();
            return false;
        }
        now = clock::now();
        for (size_t i = running.size(); i-- > 0;) {
            job &j = running[i];
            bool ended = false;
            if (polled[i].revents != 0) {
                char buffer[65536];
                for (;;) {
                    const ssize_t n = read(j.fd, buffer, sizeof buffer);
                    if (n > 0) {
                        j.bytes.append(buffer, static_cast<size_t>(n));
                        continue;
                    }
                    if (n < 0 && errno == EINTR) continue;
                    ended = n == 0;   // all writers gone: the process ended
                    break;
                }
            }
            if (!ended && now >= students[j.student].deadline) {
                kill(j.pid, SIGKILL);
                j.killed = true;
                ended = true;
            }
            if (!ended) continue;
            int status = 0;
            while (waitpid(j.pid, &status, 0) < 0 && errno == EINTR) {}
            close(j.fd);
            job over = std::move(j);
            running.erase(running.begin() + static_cast<long>(i));
            finish(over, status);
        }
        hand_on();
    }
    if (stopped) stop_all();
    hand_on();
    return true;
}

}   // namespace check
