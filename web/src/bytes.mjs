// Bytes as the machine's devices see them. The card deck and the printer
// are bytes, not text: every byte 00..FF stands for the character of the same
// number (ISO 8859-1 exactly, not a browser's "latin1", which is
// windows-1252), so CR LF and bytes 80..FF go in and out unchanged.

// A byte string (one character per byte) from bytes.
export function bytesToText(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 8192)
    text += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return text;
}

// Bytes from text typed on the page: each character up to FF is its byte;
// `unfit` counts the characters that have no byte (each becomes '?').
export function textToBytes(text) {
  const bytes = new Uint8Array(text.length);
  let unfit = 0;
  for (let i = 0; i < text.length; i++) {
    const code = text.charCodeAt(i);
    if (code > 0xFF) { bytes[i] = 0x3F; unfit++; } else bytes[i] = code;
  }
  return { bytes, unfit };
}

// Whether a text box can show the bytes and give them back unchanged: a
// text box turns CR LF and lone CR into LF, and shows NUL as nothing.
export const editableAsText = (bytes) => !bytes.includes(0x0D) && !bytes.includes(0x00);

// Base64 for keeping bytes in the browser's storage.
export function bytesToBase64(bytes) {
  return btoa(bytesToText(bytes));
}
export function base64ToBytes(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}
