// The machine in WebAssembly: a thin layer over the C interface
// (api/kalvo3_api.h) that passes strings in and out of the module's memory.
// Register names, field names and mnemonics all come from the module.
import createKalvo3 from './kalvo3.mjs';
import { SEVERITIES } from './messages.mjs';

export const STOP = { LIMIT: 0, HALT: 1, ERROR: 2, BREAK: 3 };
// The reverse questions' kinds and statuses (k3_find_*).
export const FIND = { REGISTER: 0, MM_WORD: 1, ADDRESS: 2, RUNNING: 0, FOUND: 1, NONE: 2, LOST: -1, UNKNOWN: 0xFFFFFFFF };

export async function loadMachine() {
  const m = await createKalvo3();

  // Calls a k3_ function with string arguments copied into the module.
  function withStrings(strings, call) {
    const pointers = strings.map((text) => {
      const size = m.lengthBytesUTF8(text) + 1;
      const at = m._malloc(size);
      m.stringToUTF8(text, at, size);
      return at;
    });
    try {
      return call(...pointers);
    } finally {
      pointers.forEach((at) => m._free(at));
    }
  }
  const text = (at) => m.UTF8ToString(at);

  // Every register as the machine describes it: name, group, width in bits,
  // whether it may be set, and whether the history answers when it last
  // changed (a question is refused at its start; none is asked yet here, and
  // every question the page asks starts afresh).
  const registers = [];
  for (let r = 0; r < m._k3_register_count(); r++)
    registers.push({ name: text(m._k3_register_name(r)), group: text(m._k3_register_group(r)),
                     width: m._k3_register_width(r), writable: m._k3_register_writable(r) !== 0,
                     askable: m._k3_find_start(FIND.REGISTER, r) !== 0 });
  const registerNames = registers.map((r) => r.name);
  const registerNumber = Object.fromEntries(registerNames.map((name, r) => [name, r]));

  // The parts of the data path, by the names the picture marks them with.
  const parts = [];
  for (let p = 0; p < m._k3_part_count(); p++) parts.push(text(m._k3_part_name(p)));

  const fields = [];
  for (let f = 0; f < m._k3_field_count(); f++) {
    const mnemonics = [];
    for (let code = 0; code < 16; code++) mnemonics.push(text(m._k3_mnemonic(f, code)));
    fields.push({ name: text(m._k3_field_name(f)), lowBit: m._k3_field_low_bit(f),
                  width: m._k3_field_width(f), mnemonics });
  }

  return {
    registers,
    registerNames,
    fields,
    parts,
    // The parts the last micro-cycle used, given the registers before it.
    stepParts: (before) =>
      text(m._k3_step_parts(before.IR, before.MEMCYCLE, before.IOCYCLE)).split(' ').filter((name) => name),
    powerOn: () => m._k3_power_on(),
    consoleText: () => text(m._k3_console_text()),
    consoleClear: () => m._k3_console_clear(),
    // 1 CM, 2 MM, 0 not a load file (error 5: see lastError).
    loadText: (loadFile) => withStrings([loadFile], (at) => m._k3_load_text(at)),
    // The first error of the last run, load or break point set: its number
    // (0 none), the load file's line (0 none) and the machine's message.
    lastError() {
      const number = m._k3_last_error();
      return { number, line: m._k3_last_error_line(), text: number ? text(m._k3_error_text(number)) : '' };
    },
    errorText: (number) => text(m._k3_error_text(number)),
    // The assembly's records (severity 'error', 'warning' or 'note'; file;
    // line and column, 0 for the whole file; message) and their counts.
    assemble(name, source, data) {
      const errors = withStrings([name, source], (n, s) => m._k3_assemble(n, s, data ? 1 : 0));
      const records = [];
      for (let i = 0; i < m._k3_diagnostic_count(); i++)
        records.push({ severity: SEVERITIES[m._k3_diagnostic_severity(i)], file: text(m._k3_diagnostic_file(i)),
                       line: m._k3_diagnostic_line(i), column: m._k3_diagnostic_column(i),
                       message: text(m._k3_diagnostic_message(i)) });
      const counts = Object.fromEntries(SEVERITIES.map((name, level) => [name, m._k3_severity_count(level)]));
      return { errors, counts, records, messages: text(m._k3_assembly_messages()),
               loadFile: errors ? '' : text(m._k3_assembly_load_file()),
               labels: errors ? '' : text(m._k3_assembly_labels()) };
    },
    assemblyLine: (address) => m._k3_assembly_line(address),
    disassemble: () => text(m._k3_disassemble()),
    wordText: (address) => text(m._k3_word_text(address)),
    cmField: (address, field) => m._k3_cm_field(address, field),
    cmLoadFile: () => text(m._k3_cm_load_file()),
    mmLoadFile: () => text(m._k3_mm_load_file()),
    run(limit, profile) {
      const stop = m._k3_run(limit >>> 0, profile ? 1 : 0);
      return { stop, steps: m._k3_steps(), error: m._k3_last_error() };
    },
    // The console's closing lines of a run of `steps` in all, with a step
    // limit (Infinity: none), into the console text.
    runEnd: (steps, limit) => m._k3_run_end(steps >>> 0, limit === Infinity ? -1 : Math.min(limit, 0x7FFFFFFF)),
    profile: (address) => countAt(m, m._k3_profile(), address),
    profileClear: () => m._k3_profile_clear(),
    checkpoint: () => m._k3_checkpoint(),
    undo: () => m._k3_undo() !== 0,
    historySize: () => m._k3_history_size(),
    historyMemory: () => Number(m._k3_history_memory()),
    // The history of runs: steps as Numbers here (exact up to 2^53), BigInt
    // at the module's edge.
    position: () => Number(m._k3_position()),
    historyEnd: () => Number(m._k3_history_end()),
    seek: (step) => m._k3_seek(BigInt(step)) !== 0,
    // A reverse question (FIND kinds): start, then continue by `steps` more
    // steps at a time until its status is no longer FIND.RUNNING.
    findStart: (kind, what) => m._k3_find_start(kind, what >>> 0) !== 0,
    findContinue: (steps) => m._k3_find_continue(BigInt(steps)),
    findProgress: () => ({ searched: Number(m._k3_find_searched()), span: Number(m._k3_find_span()) }),
    findResult: () => ({ step: Number(m._k3_find_step()), word: m._k3_find_word() >>> 0,
                         starter: m._k3_find_starter() >>> 0 }),
    reset: () => m._k3_reset(),
    breakSet: (address) => m._k3_break_set(address) !== 0,
    breakClear: (address) => m._k3_break_clear(address),
    breakAt: (address) => m._k3_break_at(address) !== 0,
    get: (name) => m._k3_get(registerNumber[name]) >>> 0,
    set: (name, value) => m._k3_set(registerNumber[name], value >>> 0),
    cmHigh: (address) => m._k3_cm_high(address) >>> 0,
    cmLow: (address) => m._k3_cm_low(address) >>> 0,
    cmSet: (address, high, low) => m._k3_cm_set(address, high >>> 0, low >>> 0),
    mmGet: (address) => m._k3_mm_get(address),
    mmSet: (address, value) => m._k3_mm_set(address, value),
    cardsSet(bytes) {
      const at = m._malloc(bytes.length + 1);
      m.HEAPU8.set(bytes, at);
      m._k3_cards_set(at, bytes.length);
      m._free(at);
    },
    cardsRewind: () => m._k3_cards_rewind(),
    cardsPosition: () => m._k3_cards_position(),
    // The printer's bytes, a copy: exactly what KALV.LPT holds at the console.
    printerBytes() {
      const at = m._k3_printer_text();
      return m.HEAPU8.slice(at, at + m._k3_printer_length());
    },
    printerLength: () => m._k3_printer_length(),
    printerClear: () => m._k3_printer_clear(),
    // The module's file system, where the assembler finds the files that
    // sources include: a file, and a whole directory emptied.
    writeFile(path, contents) {
      m.FS.mkdirTree(path.slice(0, path.lastIndexOf('/')) || '/');
      m.FS.writeFile(path, contents);
    },
    removeTree(path) {
      const FS = m.FS;
      if (!FS.analyzePath(path).exists) return;
      for (const name of FS.readdir(path)) {
        if (name === '.' || name === '..') continue;
        const inner = `${path}/${name}`;
        if (FS.isDir(FS.stat(inner).mode)) {
          this.removeTree(inner);
          FS.rmdir(inner);
        } else FS.unlink(inner);
      }
    },
  };
}

// A 64-bit count read as two 32-bit halves (no 64-bit heap view needed).
function countAt(m, base, address) {
  const at = (base >> 2) + address * 2;
  return m.HEAPU32[at] + m.HEAPU32[at + 1] * 2 ** 32;
}
