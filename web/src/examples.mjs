// The bundled examples the page opens: each names the files of examples/
// (copied into the site) that make its project: the CM and MM files, the
// files they include and the card deck. In the project each file keeps its
// path below examples/, so that includes resolve as they do there.
export const EXAMPLES = [
  { id: 'greeting', title: 'greeting: HELLO on the printer (load files)',
    cm: 'examples/greeting/greeting.cm', mm: 'examples/greeting/greeting.mm' },
  { id: 'digits', title: 'digits: the tutorial microprogram', cm: 'examples/digits/digits.masm' },
  { id: 'k16_hello', title: 'K16 hello: a greeting from a machine program',
    cm: 'examples/k16/k16.masm', includes: ['examples/k16/k16.inc'], mm: 'examples/k16_hello/hello.mdat' },
  { id: 'k16_upper', title: 'K16 upper: cards to the printer in upper case',
    cm: 'examples/k16/k16.masm', includes: ['examples/k16/k16.inc'], mm: 'examples/k16_upper/upper.mdat', cards: 'examples/k16_upper/KALV.CRD' },
  { id: 'k16_fib', title: 'K16 fib: Fibonacci numbers into main memory',
    cm: 'examples/k16/k16.masm', includes: ['examples/k16/k16.inc'], mm: 'examples/k16_fib/fib.mdat' },
];

