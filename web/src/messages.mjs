// The messages of an assembly or a load as the page lists them: each file's
// messages in line order (a file's own messages before those of the files
// it includes, each file in the order its first message came), with file
// names as the project names them, never the module's own file system.

// The assembler's severities by the interface's numbers (k3_severity).
export const SEVERITIES = ['error', 'warning', 'note'];

// The project's files live under this directory of the module's file system.
export const PROJECT_ROOT = '/project/';

// A path of the module's file system as the project names the file; any
// other path as given.
export const projectName = (path) => (path.startsWith(PROJECT_ROOT) ? path.slice(PROJECT_ROOT.length) : path);

// A message's text with every project path in it named as the project names it.
export const withoutRoot = (text) => text.split(PROJECT_ROOT).join('');

// Sorts messages { file, line, column, severity, ... } of one document:
// the document's own file first, then the others in the order their first
// message came; within a file by line, then column (0: the whole file,
// first); equal places keep their order.
export function inLineOrder(messages, ownFile) {
  const files = [ownFile];
  for (const m of messages) if (!files.includes(m.file)) files.push(m.file);
  return messages
    .map((m, i) => ({ m, i }))
    .sort((a, b) => files.indexOf(a.m.file) - files.indexOf(b.m.file) || a.m.line - b.m.line ||
                    a.m.column - b.m.column || a.i - b.i)
    .map(({ m }) => m);
}

// "file:line:column: severity: message", as kalvo3-asm prints it.
export function messageText(m) {
  const where = m.line ? `:${m.line}${m.column ? ':' + m.column : ''}` : '';
  return `${projectName(m.file)}${where}: ${m.severity}: ${withoutRoot(m.message)}`;
}

// "1 error, 2 warnings" from counts by severity; '' when there are none.
export function countText(counts) {
  return SEVERITIES.filter((s) => counts[s]).map((s) => `${counts[s]} ${s}${counts[s] > 1 ? 's' : ''}`).join(', ');
}
