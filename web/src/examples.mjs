// The bundled examples the page opens: each names the files of examples/
// (copied into the site) that go into the editor's three documents. Paths
// are also the names the assembler sees, so that includes resolve.
export const EXAMPLES = [
  { id: 'greeting', title: 'greeting: HELLO on the printer (load files)',
    cm: 'examples/greeting/greeting.cm', mm: 'examples/greeting/greeting.mm' },
  { id: 'digits', title: 'digits: the tutorial microprogram', cm: 'examples/digits/digits.masm' },
  { id: 'k16_hello', title: 'K16 hello: a greeting from a machine program',
    cm: 'examples/k16/k16.masm', mm: 'examples/k16_hello/hello.mdat' },
  { id: 'k16_upper', title: 'K16 upper: cards to the printer in upper case',
    cm: 'examples/k16/k16.masm', mm: 'examples/k16_upper/upper.mdat', cards: 'examples/k16_upper/KALV.CRD' },
  { id: 'k16_fib', title: 'K16 fib: Fibonacci numbers into main memory',
    cm: 'examples/k16/k16.masm', mm: 'examples/k16_fib/fib.mdat' },
];

// Files that sources include; written into the module's file system.
export const INCLUDES = ['examples/k16/k16.inc'];
