'use strict';
// Runs the desktop build of pelmora.node as a host would, in a process of
// its own on the test's desktop: one export call per line of standard
// input ({id, call, args}), answered with {id, result, ms} (the export's own
// time) or {id, error}.
const path = require('node:path');
const readline = require('node:readline');

const file = path.resolve(process.env.PELMORA_DESKTOP_ADDON || path.join(__dirname, '..', '..', 'resources', 'bin', 'pelmora.node'));
const addon = require(file);

readline.createInterface({ input: process.stdin }).on('line', (line) => {
  const { id, call, args = [] } = JSON.parse(line);
  let answer;
  try {
    const started = process.hrtime.bigint();
    const value = call === 'exports' ? Object.getOwnPropertyNames(addon).sort() : addon[call](...args.map((a) =>
      a === '__callback__' ? () => {} : a));
    const ms = Number(process.hrtime.bigint() - started) / 1e6;
    answer = { id, result: typeof value === 'string' && /^[[{]/.test(value) ? JSON.parse(value) : value, ms };
  } catch (e) {
    answer = { id, error: String(e && e.stack || e) };
  }
  process.stdout.write(`${JSON.stringify(answer)}\n`);
});
