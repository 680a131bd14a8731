// Validates a JSON document against a schema, for the part of JSON Schema
// that check/results.schema.json uses: type (one or several), required,
// properties, additionalProperties: false, items, enum, minimum, minLength.
// A keyword it does not know is an error, so a schema cannot outgrow it
// unnoticed.
//   node validate_json.mjs SCHEMA DOCUMENT     exit status 0 valid, 1 not
//   node validate_json.mjs --self-test SCHEMA  documents that must be refused
import { readFileSync } from 'node:fs';

const KNOWN = new Set(['$schema', '$id', 'title', 'description', 'type', 'required', 'properties',
  'additionalProperties', 'items', 'enum', 'minimum', 'minLength']);

function typeOf(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'array';
  if (Number.isInteger(value)) return 'integer';
  return typeof value;
}

export function validate(schema, value, path = '$') {
  const errors = [];
  for (const key of Object.keys(schema))
    if (!KNOWN.has(key)) errors.push(`${path}: the schema's keyword '${key}' is not known to this validator`);
  if (schema.type !== undefined) {
    const types = Array.isArray(schema.type) ? schema.type : [schema.type];
    const got = typeOf(value);
    if (!types.includes(got) && !(got === 'integer' && types.includes('number')))
      return [...errors, `${path}: expected ${types.join(' or ')}, got ${got}`];
  }
  if (schema.enum !== undefined && !schema.enum.includes(value))
    errors.push(`${path}: ${JSON.stringify(value)} is not one of ${schema.enum.join(', ')}`);
  if (schema.minimum !== undefined && typeof value === 'number' && value < schema.minimum)
    errors.push(`${path}: ${value} is below ${schema.minimum}`);
  if (schema.minLength !== undefined && typeof value === 'string' && value.length < schema.minLength)
    errors.push(`${path}: shorter than ${schema.minLength}`);
  if (typeOf(value) === 'object') {
    for (const name of schema.required ?? [])
      if (!(name in value)) errors.push(`${path}: '${name}' is missing`);
    for (const [name, item] of Object.entries(value)) {
      const sub = schema.properties?.[name];
      if (sub) errors.push(...validate(sub, item, `${path}.${name}`));
      else if (schema.additionalProperties === false) errors.push(`${path}: '${name}' is not allowed`);
    }
  }
  if (typeOf(value) === 'array' && schema.items)
    value.forEach((item, i) => errors.push(...validate(schema.items, item, `${path}[${i}]`)));
  return errors;
}

function selfTest(schema) {
  const test = (fields) => ({ name: 'a', score: 1, max_score: 1, output: '', visibility: 'visible', ...fields });
  const student = (fields) => ({ student: 'd', score: 0, max_score: 1, problem: null, tests: [test({})], ...fields });
  const refused = [
    ['no students', {}],
    ['students not an array', { students: {} }],
    ['a field too many', { students: [student({ grade: 'A' })] }],
    ['problem a number', { students: [student({ problem: 3 })] }],
    ['score not whole', { students: [student({ score: 1.5 })] }],
    ['score below 0', { students: [student({ score: -1 })] }],
    ['no max_score', { students: [(({ max_score, ...rest }) => rest)(student({}))] }],
    ['visibility unknown', { students: [student({ tests: [test({ visibility: 'secret' })] })] }],
    ['output missing', { students: [student({ tests: [(({ output, ...rest }) => rest)(test({}))] })] }],
    ['empty name', { students: [student({ tests: [test({ name: '' })] })] }],
  ];
  let failed = 0;
  for (const [what, doc] of refused)
    if (validate(schema, doc).length === 0) { console.log(`FAIL: accepted: ${what}`); failed++; }
  const good = { students: [student({}), student({ problem: 'timed out', tests: [] })] };
  const errors = validate(schema, good);
  if (errors.length) { console.log(`FAIL: refused a good document: ${errors.join('; ')}`); failed++; }
  return failed ? 1 : 0;
}

const args = process.argv.slice(2);
if (args[0] === '--self-test') {
  process.exit(selfTest(JSON.parse(readFileSync(args[1], 'utf8'))));
}
const schema = JSON.parse(readFileSync(args[0], 'utf8'));
let doc;
try {
  doc = JSON.parse(readFileSync(args[1], 'utf8'));
} catch (e) {
  console.log(`${args[1]}: not JSON (${e.message})`);
  process.exit(1);
}
const errors = validate(schema, doc);
for (const e of errors) console.log(`${args[1]}: ${e}`);
process.exit(errors.length ? 1 : 0);
