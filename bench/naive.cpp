// A naive KALVO-3 simulator in one file: the benchmark's side-by-side
// baseline. Globals, one switch per field, every step of every cycle, the
// word decoded afresh at each fetch; no console, no break points, no reports
// (a fault only stops the run). bench/run.sh builds it with -O2 and times it
// against the simulator on the same workloads.
//
//   naive CM-FILE|- MM-FILE|- STEPS
//
// Loads the two load files ("-" for none), runs from CMAR 0 for STEPS
// micro-cycles or until a halt or a fault, and prints the steps made and the
// registers (the simulator's Dump command shows the same after the same run).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static uint64_t CM[4096];
static uint16_t MM[65536];
static uint16_t R[8], IR, FSR, LBUS, RBUS, ABUS, SBUS, IOBUS, STACK[8];
static uint32_t PC, MAR, CMAR;
static unsigned C;
static int ZER, NEG, CRY, OVR, CZ, T, SP, MEM, IO, STOP;
static int LBF, RBF, ALF, SHF, SBF, MMF, SQF, TSF, EXF, ADF;
static FILE *READER, *PRINTER;

static void load(const char *name)
{
    if (strcmp(name, "-") == 0) return;
    FILE *f = fopen(name, "r");
    if (!f) { perror(name); exit(1); }
    char line[256];
    if (!fgets(line, sizeof line, f)) exit(1);
    const bool cm = line[0] == 'C';
    while (fgets(line, sizeof line, f)) {
        if (strlen(line) < 7) continue;
        unsigned long address = strtoul(line, nullptr, 16);
        unsigned long long value = strtoull(line + (cm ? 5 : 6), nullptr, 16);
        if (cm) CM[address & 0xFFF] = value;
        else MM[address & 0xFFFF] = static_cast<uint16_t>(value);
    }
    fclose(f);
}

static uint16_t &reg_ir(int shift, int offset) { return R[((IR >> shift) + offset) & 3]; }
static int carry_bit() { return EXF == 3 || (EXF == 2 && CRY); }

static int test()
{
    switch (TSF) {
    case 0: return ZER; case 1: return NEG; case 2: return CRY; case 3: return OVR;
    case 4: return T; case 5: return C == 0; case 7: return 1;
    default: STOP = 1; return 0;
    }
}

static void cycle()
{
    uint64_t w = CMAR <= 0xFFF ? CM[CMAR] : (STOP = 1, ~uint64_t{0});
    LBF = (w >> 36) & 15; RBF = (w >> 32) & 15; ALF = (w >> 29) & 7; SHF = (w >> 26) & 7;
    SBF = (w >> 22) & 15; MMF = (w >> 20) & 3; SQF = (w >> 16) & 15; TSF = (w >> 13) & 7;
    EXF = (w >> 9) & 15; ADF = w & 0x1FF;

    uint32_t cur = CMAR, page = (cur & ~0x1FFu) | ADF, v = ((TSF & 1u) << 9 | ADF) << 2;
    switch (SQF) {
    case 0: CMAR = TSF << 9 | ADF; break;
    case 1: if (SP < 8) STACK[SP++] = cur + 1; else STOP = 1; CMAR = TSF << 9 | ADF; break;
    case 2: if (SP > 0) CMAR = STACK[--SP]; else STOP = 1; break;
    case 3: CMAR = test() ? page : cur + 1; break;
    case 4: CMAR = test() ? cur + 1 : page; break;
    case 5: CMAR = (ADF & 0xFF) << 4 | IR >> 12; break;
    case 6: CMAR = (v & ~0xFu) | ((IR >> 8) & 0xC) | (ADF & 3); break;
    case 7: CMAR = (v & ~0x3Fu) | ((IR >> 6) & 0x3C) | (ADF & 3); break;
    case 8: CMAR = test() ? 0 : page; break;
    case 15: CMAR = cur + 1; break;
    default: STOP = 1; break;
    }
    if (IO == 1) {
        int ch = READER ? getc(READER) : EOF;
        if (ch == EOF) { IOBUS = 0xFFFF; STOP = 1; } else IOBUS = static_cast<uint16_t>(ch);
        IO = 0;
    }
    switch (LBF) {
    case 8: LBUS = reg_ir(8, 0); break;
    case 9: LBUS = reg_ir(8, 1); break;
    case 10: LBUS = static_cast<uint16_t>(PC); break;
    case 11: LBUS = IOBUS; break;
    case 12: if (MEM == 1 && MAR <= 0xFFFF) LBUS = MM[MAR]; else STOP = 1; break;
    case 13: LBUS = IR; break;
    case 14: LBUS = FSR; break;
    case 15: LBUS = 0; break;
    default: LBUS = R[LBF]; break;
    }
    if (EXF == 5) IOBUS = LBUS;
    switch (RBF) {
    case 8: RBUS = reg_ir(10, 0); break;
    case 9: RBUS = reg_ir(10, 1); break;
    case 10: RBUS = static_cast<uint16_t>(ADF); break;
    case 11: RBUS = static_cast<uint16_t>(w); break;
    case 12: case 13: case 14: STOP = 1; break;
    case 15: RBUS = 0; break;
    default: RBUS = R[RBF]; break;
    }
    if (MEM == 1) MEM = 0;
    else if (MEM == 2) { if (MAR <= 0xFFFF) { MM[MAR] = LBUS; MEM = 0; } else STOP = 1; }
    if (IO == 2) { if (PRINTER) putc(IOBUS & 0xFF, PRINTER); IO = 0; }
    if (MMF == 0) { MAR = LBUS; MEM = 1; } else if (MMF == 1) { MAR = LBUS; MEM = 2; }

    int code = ALF == 5 ? (IR >> 4) & 7 : ALF;
    unsigned l = LBUS, r = RBUS, x;
    switch (code) {
    case 0: x = l + r + carry_bit(); ABUS = x; ZER = ABUS == 0; NEG = ABUS >> 15; CRY = x >> 16 & 1;
            OVR = ((l ^ x) & (r ^ x)) >> 15 & 1; break;
    case 1: x = l - r - carry_bit(); ABUS = x; ZER = ABUS == 0; NEG = ABUS >> 15; CRY = x >> 16 & 1;
            OVR = ((l ^ r) & (l ^ x)) >> 15 & 1; break;
    case 2: ABUS = l & r; ZER = ABUS == 0; break;
    case 3: ABUS = l | r; ZER = ABUS == 0; break;
    case 4: ABUS = l ^ r; ZER = ABUS == 0; break;
    case 7: ABUS = l | r; break;
    default: STOP = 1; break;
    }
    if (EXF == 4) IR = LBUS;
    unsigned a = ABUS;
    switch (SHF) {
    case 0: SBUS = a << 1 | carry_bit(); CRY = a >> 15; break;
    case 1: SBUS = a >> 1 | carry_bit() << 15; CRY = a & 1; break;
    case 2: SBUS = a << 1 | carry_bit(); CRY = a >> 15; OVR = (a >> 15 ^ a >> 14) & 1; break;
    case 3: SBUS = a >> 1 | (a & 0x8000); CRY = a & 1; break;
    case 4: SBUS = a & 0x80 ? a | 0xFF00 : a; CRY = a >> 7 & 1; break;
    case 5: SBUS = a << 8 | a >> 8; break;
    case 6: STOP = 1; break;
    case 7: SBUS = a; break;
    }
    switch (SBF) {
    case 8: reg_ir(10, 0) = SBUS; break;
    case 9: reg_ir(10, 1) = SBUS; break;
    case 10: reg_ir(8, 0) = SBUS; break;
    case 11: reg_ir(8, 1) = SBUS; break;
    case 12: PC = SBUS; break;
    case 13: case 14: STOP = 1; break;
    case 15: break;
    default: R[SBF] = SBUS; break;
    }
    switch (EXF) {
    case 0: C = (C - 1) & 0xFF; break;
    case 1: FSR = ZER << 3 | NEG << 2 | CRY << 1 | OVR; break;
    case 6: C = RBUS & 0xFF; break;
    case 7:
        if (IR == 0xEC00) { if (!READER) READER = fopen("KALV.CRD", "r"); IO = 1; }
        else if (IR == 0xED01) { if (!PRINTER) PRINTER = fopen("KALV.LPT", "w"); IO = 2; }
        else STOP = 1;
        break;
    case 8: T = 1; break;
    case 9: T = 0; break;
    case 10: IR = (IR & ~0xC00) | ((IR + 0x400) & 0xC00); break;
    case 11: IR = (IR & ~0x300) | ((IR + 0x100) & 0x300); break;
    case 12: IR = (IR & ~0x300) | ((IR + 0x300) & 0x300); break;
    case 13: case 14: STOP = 1; break;
    }
    CZ = C == 0;
}

int main(int argc, char **argv)
{
    if (argc != 4) { fprintf(stderr, "usage: naive CM-FILE|- MM-FILE|- STEPS\n"); return 2; }
    load(argv[1]);
    load(argv[2]);
    const long long limit = atoll(argv[3]);
    long long steps = 0;
    while (steps < limit) {
        cycle();
        steps++;
        if (STOP) break;
    }
    printf("%lld steps; CMAR %03X PC %04X C %02X R0..R7", steps, CMAR, PC, C);
    for (uint16_t r : R) printf(" %04X", r);
    printf("\n");
    if (PRINTER) fclose(PRINTER);
    return 0;
}
