// Shared ground for the machine-core tests: a known machine state before
// every test, micro-instructions built by field name, and the error numbers
// a test made, read back from the captured console.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/devices.hpp"
#include "core/machine_state.hpp"
#include "core/micro_word.hpp"
#include "tests/unit/stdin_feed.hpp"

// A micro-instruction by fields. The defaults are those of DEFAULT_MICRO_WORD,
// which do nothing: both buses 0, the flag-free OR, pass, no store, no memory
// function, continue, no extra function.
struct micro {
    int lbf = field_of(DEFAULT_MICRO_WORD, FIELD_LBF), rbf = field_of(DEFAULT_MICRO_WORD, FIELD_RBF),
        alf = field_of(DEFAULT_MICRO_WORD, FIELD_ALF), shf = field_of(DEFAULT_MICRO_WORD, FIELD_SHF),
        sbf = field_of(DEFAULT_MICRO_WORD, FIELD_SBF), mmf = field_of(DEFAULT_MICRO_WORD, FIELD_MMF),
        sqf = field_of(DEFAULT_MICRO_WORD, FIELD_SQF), tsf = field_of(DEFAULT_MICRO_WORD, FIELD_TSF),
        exf = field_of(DEFAULT_MICRO_WORD, FIELD_EXF), adf = field_of(DEFAULT_MICRO_WORD, FIELD_ADF);

    uint64_t word() const
    {
        uint64_t w = 0;
        const int values[] = {lbf, rbf, alf, shf, sbf, mmf, sqf, tsf, exf, adf};
        for (int i = 0; i < 10; i++)
            w = with_field(w, MICRO_FIELDS[i], static_cast<uint64_t>(values[i]));
        return w;
    }

    // Puts the word and its fields into M as the fetch would.
    void decode() const { M.current = {word(), lbf, rbf, alf, shf, sbf, mmf, sqf, tsf, exf, adf}; }
};

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        close_devices();
        reset_registers();
        clear_control_memory();
        clear_main_memory();
        M.stop_flag = 0;
        micro{}.decode();
    }

    // Everything printed since the test started.
    std::string console() { return capture_.text(); }

    // The numbers of the errors reported since the test started, in order.
    std::vector<int> errors()
    {
        std::vector<int> numbers;
        const std::string text = console();
        for (size_t at = 0; (at = text.find("\nERROR ", at)) != std::string::npos; at++)
            numbers.push_back(std::stoi(text.substr(at + 7)));
        return numbers;
    }

    static std::vector<int> none() { return {}; }

private:
    StdoutCapture capture_;
};
