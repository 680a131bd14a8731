// The page's keys: one table, read by the key handler and by the help panel.
// A key is written as the browser names it (KeyboardEvent.key), after the
// modifiers held with it: "Ctrl+Enter", "Shift+F10".

export const KEYS = [
  { keys: ['F7', 'Ctrl+Enter'], action: 'assemble', text: 'Assemble: assemble and load the CM and MM files' },
  { keys: ['F5'], action: 'run', text: 'Run: until a halt, an error, a break point or the step limit' },
  { keys: ['F10'], action: 'step', text: 'Step: one micro-instruction' },
  { keys: ['Shift+F10'], action: 'back', text: 'Step back: one step back in the history; at its start, undo the last change' },
  { keys: ['Shift+F5'], action: 'runBack', text: 'Run back: to the previous step at a break point' },
  { keys: ['Alt+c'], action: 'changedBack', text: 'Back to change: to the step where the register or memory word clicked last changed (or press its own ↶)' },
  { keys: ['Alt+g'], action: 'goTo', text: 'Go to a step of the history: type it in the timeline\'s box, Enter' },
  { keys: ['Escape'], action: 'stop', text: 'Stop the run or the search back (while one is going)', running: true },
  { keys: ['F9'], action: 'break', text: 'Break point at the focused listing row (rows take focus with Tab, move with ↑ ↓)' },
  { keys: ['Alt+u'], action: 'undo', text: 'Take back the last action that replaced files (example, disassembly, open)' },
  { keys: ['F1'], action: 'help', text: 'This help' },
];

// The name of a key press: modifiers, then the key.
export function keyName(event) {
  let name = '';
  if (event.ctrlKey || event.metaKey) name += 'Ctrl+';
  if (event.altKey) name += 'Alt+';
  if (event.shiftKey && event.key.length > 1) name += 'Shift+';   // Shift is part of a character key
  return name + (event.key.length === 1 ? event.key.toLowerCase() : event.key);
}

// The action a key press asks for, or null. While a run is going only
// the keys that make sense during a run act.
export function actionFor(event, running) {
  const name = keyName(event);
  const entry = KEYS.find((k) => k.keys.includes(name));
  if (!entry) return null;
  if (running && !['stop', 'help'].includes(entry.action)) return null;
  if (!running && entry.running) return null;
  return entry.action;
}
