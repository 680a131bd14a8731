// Test helpers: make standard input read a given text, and collect what the
// console prints, for the span of one object's life.
#pragma once

#include <cstdio>
#include <stdio_ext.h>
#include <string>
#include <unistd.h>

#include "core/machine_state.hpp"

// Standard input reads `text` (then end of input) while the feed lives.
class StdinFeed {
public:
    explicit StdinFeed(const std::string &text)
    {
        FILE *file = tmpfile();
        fwrite(text.data(), 1, text.size(), file);
        fflush(file);
        lseek(fileno(file), 0, SEEK_SET);
        saved_fd_ = dup(0);
        __fpurge(stdin);
        dup2(fileno(file), 0);
        clearerr(stdin);
        fclose(file);
    }
    ~StdinFeed()
    {
        __fpurge(stdin);
        dup2(saved_fd_, 0);
        close(saved_fd_);
        clearerr(stdin);
    }
    StdinFeed(const StdinFeed &) = delete;
    StdinFeed &operator=(const StdinFeed &) = delete;

private:
    int saved_fd_;
};

// Everything written to standard output while the capture lives; text()
// returns it so far.
class StdoutCapture {
public:
    StdoutCapture()
    {
        console_flush();
        file_ = tmpfile();
        saved_fd_ = dup(1);
        dup2(fileno(file_), 1);
    }
    ~StdoutCapture()
    {
        console_flush();
        dup2(saved_fd_, 1);
        close(saved_fd_);
        fclose(file_);
    }
    std::string text()
    {
        console_flush();
        std::string out;
        lseek(fileno(file_), 0, SEEK_SET);
        char buffer[4096];
        for (ssize_t n; (n = read(fileno(file_), buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<size_t>(n));
        return out;
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

private:
    FILE *file_;
    int saved_fd_;
};
