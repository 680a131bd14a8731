// Small formatting helpers shared by the page's modules.
export const hex = (value, digits) => (value >>> 0).toString(16).toUpperCase().padStart(digits, '0');
export const escapeHtml = (text) =>
  text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
// A printable character for a byte in the memory view, '.' for the rest.
export const shownChar = (byte) => (byte >= 0x20 && byte < 0x7F) || byte >= 0xA0 ? String.fromCharCode(byte) : '.';

// The step typed in the timeline's box: { step }, a whole number up to the
// history's end, or { error }.
export function parseStep(typed, end) {
  const text = typed.trim();
  if (!/^\d{1,16}$/.test(text)) return { error: `step: "${text}" is not a whole number of steps` };
  const step = Number(text);
  if (step > end) return { error: `step ${step} is beyond the history's end, step ${end}` };
  return { step };
}
