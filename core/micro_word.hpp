// The 40-bit micro-instruction word: where each field sits.
//
//  39   36 35   32 31 29 28 26 25   22 21 20 19   16 15 13 12    9 8         0
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
// |  LBF  |  RBF  | ALF | SHF |  SBF  | MMF |  SQF  | TSF |  EXF  |    ADF    |
// +-------+-------+-----+-----+-------+-----+-------+-----+-------+-----------+
//
// Bits 63..40 of a CM word are ignored by the decode. The low 16 bits (TSF,
// EXF, ADF) form the constant that RBF 11 puts on the right bus.
#pragma once

#include <cstdint>

struct micro_field {
    const char *name;
    int low_bit;
    int width;
};

constexpr micro_field FIELD_LBF{"LBF", 36, 4};
constexpr micro_field FIELD_RBF{"RBF", 32, 4};
constexpr micro_field FIELD_ALF{"ALF", 29, 3};
constexpr micro_field FIELD_SHF{"SHF", 26, 3};
constexpr micro_field FIELD_SBF{"SBF", 22, 4};
constexpr micro_field FIELD_MMF{"MMF", 20, 2};
constexpr micro_field FIELD_SQF{"SQF", 16, 4};
constexpr micro_field FIELD_TSF{"TSF", 13, 3};
constexpr micro_field FIELD_EXF{"EXF", 9, 4};
constexpr micro_field FIELD_ADF{"ADF", 0, 9};

// The ten fields, most significant first.
constexpr micro_field MICRO_FIELDS[] = {FIELD_LBF, FIELD_RBF, FIELD_ALF, FIELD_SHF, FIELD_SBF,
                                        FIELD_MMF, FIELD_SQF, FIELD_TSF, FIELD_EXF, FIELD_ADF};

constexpr uint64_t MICRO_WORD_MASK = (uint64_t{1} << 40) - 1;

constexpr int field_of(uint64_t word, micro_field field)
{
    return static_cast<int>((word >> field.low_bit) & ((uint64_t{1} << field.width) - 1));
}

constexpr uint64_t with_field(uint64_t word, micro_field field, uint64_t value)
{
    uint64_t mask = ((uint64_t{1} << field.width) - 1) << field.low_bit;
    return (word & ~mask) | ((value << field.low_bit) & mask);
}
