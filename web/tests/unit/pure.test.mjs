// The page's pure parts without a browser: bytes, the project of files,
// the order and naming of messages, and the key map.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { bytesToText, textToBytes, editableAsText, bytesToBase64, base64ToBytes } from '../../src/bytes.mjs';
import * as P from '../../src/project.mjs';
import { inLineOrder, messageText, projectName, countText } from '../../src/messages.mjs';
import { actionFor, keyName, KEYS } from '../../src/keys.mjs';
import { parseStep } from '../../src/format.mjs';

const ALL_BYTES = Uint8Array.from({ length: 256 }, (_, i) => i);

test('bytes go to text and back unchanged, every one of 00..FF', () => {
  const text = bytesToText(ALL_BYTES);
  assert.equal(text.length, 256);
  assert.equal(text.charCodeAt(0x80), 0x80);   // not windows-1252's euro sign
  assert.equal(text.charCodeAt(0x9F), 0x9F);
  assert.deepEqual(textToBytes(text), { bytes: ALL_BYTES, unfit: 0 });
  assert.deepEqual(base64ToBytes(bytesToBase64(ALL_BYTES)), ALL_BYTES);
  const big = new Uint8Array(100000).map((_, i) => (i * 7) & 0xFF);   // beyond one slice of the conversion
  assert.deepEqual(textToBytes(bytesToText(big)).bytes, big);
  const cases = [   // typed text, bytes, characters without a byte
    ['AB\r\n', [0x41, 0x42, 0x0D, 0x0A], 0],
    ['é€', [0xE9, 0x3F], 1],
    ['', [], 0],
  ];
  for (const [typed, bytes, unfit] of cases)
    assert.deepEqual(textToBytes(typed), { bytes: Uint8Array.from(bytes), unfit }, typed);
  for (const [bytes, editable] of [[[0x41, 0x0A], true], [[0x41, 0x0D, 0x0A], false], [[0x00], false], [[0xFF], true]])
    assert.equal(editableAsText(Uint8Array.from(bytes)), editable, bytes.join(' '));
});

test('file names stay inside the project', () => {
  const cases = [
    ['prog.masm', 'prog.masm'], ['/examples/k16/k16.inc', 'examples/k16/k16.inc'], ['a/./b//c.mdat', 'a/b/c.mdat'],
    ['k16_hello/../k16/k16.inc', 'k16/k16.inc'], ['a\\b.inc', 'a/b.inc'], ['../outside.inc', null], ['', null],
    ['   ', null], ['/', null], ['x'.repeat(201), null],
  ];
  for (const [given, kept] of cases) assert.equal(P.normalName(given), kept, given);
});

test('a project adds, renames and removes files, keeping the CM and MM choices', () => {
  const project = P.newProject([{ name: 'p.masm', text: 'A' }, { name: 'd.mdat', text: 'B' }, { name: 'p.masm', text: 'C' }],
                               { cm: 'p.masm', mm: 'd.mdat' });
  assert.deepEqual(project.files.map((f) => f.name), ['p.masm', 'd.mdat', 'p-2.masm']);
  assert.equal(P.freeName(project, 'p.masm'), 'p-3.masm');
  assert.equal(P.freeName(project, 'dir.v2/README'), 'dir.v2/README');
  assert.equal(project.active, 'p.masm');
  const renames = [   // from, to, why not ('' done)
    ['p.masm', 'main.masm', ''], ['main.masm', 'd.mdat', 'the project has a file d.mdat already'],
    ['none.masm', 'x.masm', 'there is no file none.masm'], ['main.masm', '../x', '"../x" is no file name in the project'],
    ['main.masm', '/main.masm', ''],
  ];
  for (const [from, to, why] of renames) assert.equal(P.renameFile(project, from, to), why, `${from} -> ${to}`);
  assert.equal(project.cm, 'main.masm');
  assert.equal(project.active, 'main.masm');
  assert.ok(P.removeFile(project, 'main.masm'));
  assert.equal(project.cm, '');
  assert.equal(project.active, 'd.mdat');
  assert.ok(!P.removeFile(project, 'main.masm'));
});

test('a replaced text stays among the file\'s versions, the oldest dropped beyond the limit', () => {
  const project = P.newProject([{ name: 'p.masm', text: 'v0' }]);
  for (let v = 1; v <= P.VERSIONS_KEPT + 2; v++) assert.ok(P.replaceText(project, 'p.masm', `v${v}`));
  P.replaceText(project, 'p.masm', `v${P.VERSIONS_KEPT + 2}`);   // the same text: no new version
  const file = P.fileOf(project, 'p.masm');
  assert.equal(file.text, `v${P.VERSIONS_KEPT + 2}`);
  assert.equal(file.versions.length, P.VERSIONS_KEPT);
  assert.equal(file.versions.at(-1), `v${P.VERSIONS_KEPT + 1}`);
  assert.equal(file.versions[0], 'v2');
  assert.ok(!P.replaceText(project, 'none', 'x'));
  // A copy for undo shares nothing.
  const copy = P.copyProject(project);
  P.replaceText(project, 'p.masm', 'later');
  project.cards[0] = 1;
  assert.equal(P.fileOf(copy, 'p.masm').text, `v${P.VERSIONS_KEPT + 2}`);
});

test('a kept project comes back whole; anything else kept gives no project or is left out', () => {
  const project = P.newProject([{ name: 'k/p.masm', text: 'A\r\nB' }, { name: 'k/d.mdat', text: '' }],
                               { cm: 'k/p.masm', mm: 'k/d.mdat', cards: ALL_BYTES });
  P.replaceText(project, 'k/p.masm', 'new');
  const back = P.fromStored(JSON.parse(JSON.stringify(P.toStored(project))));
  assert.deepEqual(back, project);
  for (const kept of [null, 'text', { files: 'no' }, {}]) assert.equal(P.fromStored(kept), null, JSON.stringify(kept));
  const odd = P.fromStored({ files: [{ name: '../x', text: '' }, { name: 'ok.masm', text: 'A', versions: ['1', 2] }, { name: 5 }],
                             cm: 'gone.masm', active: 'ok.masm', cards: '***' });
  assert.deepEqual(odd.files.map((f) => [f.name, f.versions]), [['ok.masm', ['1']]]);
  assert.equal(odd.cm, '');
  assert.deepEqual(odd.cards, new Uint8Array(0));
});

test('opened files go where their names say', () => {
  for (const [name, role] of [['a.masm', 'cm'], ['A.CM', 'cm'], ['b.mdat', 'mm'], ['b.mm', 'mm'], ['KALV.CRD', 'cards'],
                              ['k16.inc', 'file'], ['notes.txt', 'file']])
    assert.equal(P.roleOf(name), role, name);
  assert.ok(P.isLoadFile('x.CM') && !P.isLoadFile('x.masm'));
});

test('messages are in line order per file, named without the module\'s directories', () => {
  const m = (file, line, column, severity = 'warning') => ({ file, line, column, severity, message: `${line}` });
  const own = '/project/p.masm', inc = '/project/k16/k16.inc';
  const given = [m(own, 10, 11, 'error'), m(inc, 3, 1, 'error'), m(own, 4, 9), m(own, 0, 0, 'note'), m(own, 4, 2), m(inc, 1, 1)];
  assert.deepEqual(inLineOrder(given, own).map((x) => `${projectName(x.file)}:${x.line}:${x.column}`),
                   ['p.masm:0:0', 'p.masm:4:2', 'p.masm:4:9', 'p.masm:10:11', 'k16/k16.inc:1:1', 'k16/k16.inc:3:1']);
  const cases = [
    [{ file: own, line: 3, column: 7, severity: 'error', message: "cannot open '/project/x.inc'" }, "p.masm:3:7: error: cannot open 'x.inc'"],
    [{ file: own, line: 0, column: 0, severity: 'note', message: 'n' }, 'p.masm: note: n'],
    [{ file: 'other', line: 2, column: 0, severity: 'warning', message: 'w' }, 'other:2: warning: w'],
  ];
  for (const [record, text] of cases) assert.equal(messageText(record), text);
  assert.equal(countText({ error: 1, warning: 2, note: 0 }), '1 error, 2 warnings');
  assert.equal(countText({ error: 0, warning: 0, note: 0 }), '');
});

test('every key acts as the help says, and only when it may', () => {
  const key = (name) => {
    const parts = name.split('+');
    const k = parts.pop();
    return { key: k, ctrlKey: parts.includes('Ctrl'), altKey: parts.includes('Alt'), shiftKey: parts.includes('Shift'), metaKey: false };
  };
  const cases = [   // key, running, action
    ['F7', false, 'assemble'], ['Ctrl+Enter', false, 'assemble'], ['F5', false, 'run'], ['F10', false, 'step'],
    ['Shift+F10', false, 'back'], ['Escape', false, null], ['Escape', true, 'stop'], ['F10', true, null],
    ['F5', true, null], ['F9', false, 'break'], ['Alt+u', false, 'undo'], ['F1', true, 'help'], ['a', false, null],
    ['Enter', false, null], ['Shift+F5', false, 'runBack'], ['Shift+F5', true, null], ['Alt+c', false, 'changedBack'],
    ['Alt+c', true, null], ['Alt+g', false, 'goTo'], ['F6', false, null],
  ];
  for (const [name, running, action] of cases) assert.equal(actionFor(key(name), running), action, `${name} running ${running}`);
  assert.equal(keyName({ key: 'U', altKey: true, shiftKey: true, ctrlKey: false, metaKey: false }), 'Alt+u');
  // Every key in the table names itself as keyName does: none unreachable.
  for (const entry of KEYS) for (const name of entry.keys) assert.equal(keyName(key(name)), name);
});

test('a step typed in the timeline is a whole number up to the history\'s end', () => {
  const cases = [   // typed, end, step or the error's start
    ['0', 0, 0], [' 17 ', 100, 17], ['100', 100, 100], ['101', 100, 'step 101 is beyond'],
    ['1000000000', 1e9, 1e9], ['9007199254740993', 1e9, 'step 9007199254740992 is beyond'],
    ['', 5, 'step: "" is not'], ['-1', 5, 'step: "-1" is not'], ['1e3', 5000, 'step: "1e3" is not'],
    ['0x10', 100, 'step: "0x10" is not'], ['3.5', 5, 'step: "3.5" is not'], ['12345678901234567', 1e18, 'step: "12345678901234567" is not'],
  ];
  for (const [typed, end, expected] of cases) {
    const parsed = parseStep(typed, end);
    if (typeof expected === 'number') assert.deepEqual(parsed, { step: expected }, typed);
    else assert.ok(parsed.error?.startsWith(expected), `${typed}: ${parsed.error}`);
  }
});
