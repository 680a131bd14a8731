// Small formatting helpers shared by the page's modules.
export const hex = (value, digits) => (value >>> 0).toString(16).toUpperCase().padStart(digits, '0');
export const escapeHtml = (text) =>
  text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
// A printable character for a byte in the memory view, '.' for the rest.
export const shownChar = (byte) => (byte >= 0x20 && byte < 0x7F) || byte >= 0xA0 ? String.fromCharCode(byte) : '.';
