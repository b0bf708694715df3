'use strict';
// Fixture application databases for corvane on Linux: temporary XDG folders
// with desktop files, the mimeinfo.cache that update-desktop-database writes
// (GIO learns which applications handle a type only from it), mimeapps.list
// defaults and icon themes; plus a PNG writer and reader for icons.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');

const root = path.resolve(__dirname, '..', '..');
const corvanePath = process.env.CORVANE
  ? path.resolve(process.env.CORVANE)
  : path.join(root, 'resources', 'bin', 'corvane');

// ---- PNG -------------------------------------------------------------------

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(buf) {
  let c = 0xffffffff;
  for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([len, body, crc]);
}

// An RGBA PNG whose pixel (x, y) is colorAt(x, y) = [r, g, b, a].
function encodePng(width, height, colorAt) {
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (width * 4 + 1);
    for (let x = 0; x < width; x++) Buffer.from(colorAt(x, y)).copy(raw, row + 1 + x * 4);
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, 6, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

const solidPng = (size, rgba) => encodePng(size, size, () => rgba);

// A PNG of another colour type at 8 bits: rowBytes(y) gives scanline y
// unfiltered, before the chunks (PLTE, tRNS) to write ahead of the data.
function encodePngOfType(width, height, colorType, rowBytes, before = []) {
  const raw = Buffer.concat(Array.from({ length: height }, (_, y) => Buffer.concat([Buffer.from([0]), Buffer.from(rowBytes(y))])));
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, colorType, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr),
    ...before.map(([type, data]) => chunk(type, Buffer.from(data))), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// Decodes an 8-bit RGB or RGBA PNG (every filter type) and checks its CRCs.
function decodePng(buf) {
  if (!buf.subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]))) throw new Error('not a PNG signature');
  let pos = 8;
  let ihdr = null;
  const idat = [];
  let ended = false;
  while (pos < buf.length) {
    const len = buf.readUInt32BE(pos);
    const type = buf.toString('latin1', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + len);
    if (buf.readUInt32BE(pos + 8 + len) !== crc32(buf.subarray(pos + 4, pos + 8 + len))) throw new Error(`bad CRC in ${type}`);
    if (type === 'IHDR') ihdr = { width: data.readUInt32BE(0), height: data.readUInt32BE(4), depth: data[8], colorType: data[9], interlace: data[12] };
    if (type === 'IDAT') idat.push(data);
    if (type === 'IEND') { ended = true; break; }
    pos += 12 + len;
  }
  if (!ihdr || !ended) throw new Error('PNG without IHDR or IEND');
  if (ihdr.depth !== 8 || ![2, 6].includes(ihdr.colorType) || ihdr.interlace !== 0) throw new Error(`unexpected PNG format ${JSON.stringify(ihdr)}`);
  const channels = ihdr.colorType === 6 ? 4 : 3;
  const stride = ihdr.width * channels;
  const raw = zlib.inflateSync(Buffer.concat(idat));
  if (raw.length !== (stride + 1) * ihdr.height) throw new Error('PNG image data has the wrong length');
  const pixels = Buffer.alloc(stride * ihdr.height);
  for (let y = 0; y < ihdr.height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let i = 0; i < stride; i++) {
      const x = raw[y * (stride + 1) + 1 + i];
      const a = i >= channels ? pixels[y * stride + i - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? pixels[(y - 1) * stride + i - channels] : 0;
      let v;
      if (filter === 0) v = x;
      else if (filter === 1) v = x + a;
      else if (filter === 2) v = x + b;
      else if (filter === 3) v = x + ((a + b) >> 1);
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        v = x + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
      } else throw new Error(`bad PNG filter ${filter}`);
      pixels[y * stride + i] = v & 0xff;
    }
  }
  return {
    width: ihdr.width,
    height: ihdr.height,
    pixel(x, y) {
      const o = y * stride + x * channels;
      return [pixels[o], pixels[o + 1], pixels[o + 2], channels === 4 ? pixels[o + 3] : 255];
    },
  };
}

const hex = (rgba) => rgba.map((v) => v.toString(16).padStart(2, '0')).join('');

// Checks every icon of a document: strict RFC 4648 base64 of a 32 x 32 PNG.
// Answers the document with each icon replaced by "png:" and the colour of
// its centre pixel, so documents can be compared byte for byte, and the
// decoded images by the order they appear in.
function describeIcons(stdout) {
  const images = [];
  const text = stdout.replace(/"icon":"((?:[^"\\]|\\.)*)"/g, (_, escaped) => {
    const b64 = escaped.replace(/\\\//g, '/');
    if (!/^[A-Za-z0-9+/]*$/.test(b64.replace(/={0,2}$/, '')) || b64.length % 4 !== 0) throw new Error(`icon is not padded base64: ${escaped.slice(0, 40)}...`);
    if (escaped.includes('/') && !escaped.includes('\\/')) throw new Error('a slash in an icon is not escaped');
    const png = decodePng(Buffer.from(b64, 'base64'));
    if (png.width !== 32 || png.height !== 32) throw new Error(`icon is ${png.width} x ${png.height}, not 32 x 32`);
    images.push(png);
    return `"icon":"png:${hex(png.pixel(16, 16))}"`;
  });
  return { text, images };
}

// ---- Databases ---------------------------------------------------------------

const RED = [255, 0, 0, 255];
const GREEN = [0, 255, 0, 255];
const BLUE = [0, 0, 255, 255];
const YELLOW = [255, 255, 0, 255];

const svg = (size, color) => `<?xml version="1.0" encoding="UTF-8"?>\n<svg xmlns="http://www.w3.org/2000/svg" width="${size}" height="${size}" viewBox="0 0 ${size} ${size}"><rect width="${size}" height="${size}" fill="#${color}"/></svg>\n`;

const hicolorIndex = `[Icon Theme]
Name=Hicolor
Directories=16x16/apps,22x22/apps,32x32/apps,48x48/apps,scalable/apps

[16x16/apps]
Size=16
Type=Threshold

[22x22/apps]
Size=22
Type=Threshold

[32x32/apps]
Size=32
Type=Threshold

[48x48/apps]
Size=48
Type=Threshold

[scalable/apps]
Size=48
Type=Scalable
MinSize=1
MaxSize=512
`;

// A fresh database. Folders: home, data-home (XDG_DATA_HOME), data-a and
// data-b (XDG_DATA_DIRS, then a folder that only lends the system's MIME
// database, without which no file name maps to a type), config.
function makeDatabase(options = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-'));
  const dataDirs = options.dataDirs || ['data-a', 'data-b'];
  const folders = { home: 'home', dataHome: 'data-home', config: 'config', configSys: 'config-sys', mime: 'mime-only' };
  for (const f of [...Object.values(folders), ...dataDirs]) fs.mkdirSync(path.join(dir, f), { recursive: true });
  fs.symlinkSync('/usr/share/mime', path.join(dir, folders.mime, 'mime'));
  const at = (...parts) => path.join(dir, ...parts);
  const touched = new Set();

  const db = {
    dir,
    at,
    // A desktop entry; fields are written as given, in order, a Buffer value
    // as raw bytes. Answers its path.
    app(dataDir, id, fields) {
      const lines = [Buffer.from('[Desktop Entry]\nType=Application\nExec=true %f\n')];
      for (const [k, v] of Object.entries(fields)) lines.push(Buffer.from(`${k}=`), Buffer.isBuffer(v) ? v : Buffer.from(v), Buffer.from('\n'));
      const file = at(dataDir, 'applications', `${id}.desktop`);
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, Buffer.concat(lines));
      touched.add(path.dirname(file));
      return file;
    },
    mimeapps(text) {
      fs.writeFileSync(at(folders.config, 'mimeapps.list'), text);
    },
    // The hicolor index in the first data folder, where the fixture icons go.
    hicolor(dataDir = dataDirs[0]) {
      fs.mkdirSync(at(dataDir, 'icons', 'hicolor'), { recursive: true });
      fs.writeFileSync(at(dataDir, 'icons', 'hicolor', 'index.theme'), hicolorIndex);
    },
    icon(relative, bytes) {
      const file = at(relative);
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, bytes);
      return file;
    },
    // Writes the mimeinfo.cache of every applications folder.
    index() {
      for (const folder of touched) {
        const r = spawnSync('update-desktop-database', [folder], { encoding: 'utf8' });
        if (r.status !== 0) throw new Error(`update-desktop-database ${folder}: ${r.stderr || r.error}`);
      }
    },
    env(extra = {}) {
      const env = {
        PATH: process.env.PATH,
        HOME: at(folders.home),
        XDG_DATA_HOME: at(folders.dataHome),
        XDG_DATA_DIRS: [...dataDirs, folders.mime].map((d) => at(d)).join(':'),
        XDG_CONFIG_HOME: at(folders.config),
        XDG_CONFIG_DIRS: at(folders.configSys),
      };
      for (const k of ['ASAN_OPTIONS', 'LSAN_OPTIONS', 'UBSAN_OPTIONS']) if (process.env[k]) env[k] = process.env[k];
      return { ...env, ...extra };
    },
    run(args, extraEnv = {}, spawnOptions = {}) {
      return corvane(args, { env: db.env(extraEnv), cwd: dir, ...spawnOptions });
    },
    // A run with its cost: wall seconds and peak resident MiB (the kernel's
    // accounting, through time(1)).
    runMeasured(args, extraEnv = {}) {
      const peakFile = at('peak-kib.txt');
      const started = process.hrtime.bigint();
      const r = spawnSync('/usr/bin/time', ['-f', '%M', '-o', peakFile, corvanePath, ...args],
        { encoding: 'utf8', env: db.env(extraEnv), cwd: dir, timeout: 60000, maxBuffer: 64 << 20 });
      if (r.error) throw r.error;
      const seconds = Number(process.hrtime.bigint() - started) / 1e9;
      return { status: r.status, signal: r.signal, stdout: r.stdout, stderr: r.stderr, seconds, peakMiB: Number(fs.readFileSync(peakFile, 'utf8').trim().split('\n').pop()) / 1024 };
    },
    // Node passes environment and arguments as UTF-8 only: bytes that are not
    // go through the shell's printf. Each value is a printf format (\\377 for
    // byte 0xFF) in which %s stands for the database folder.
    runRaw(rawArg, rawEnv) {
      const fill = (format) => format.split('%s').join(dir);
      const values = [rawArg, ...Object.values(rawEnv)].map(fill);
      const sets = Object.keys(rawEnv).map((k, i) => `${k}=$(printf "$${i + 2}"); export ${k};`).join(' ');
      const script = `${sets} arg=$(printf "$1"); exec "$0" "$arg"`;
      const r = spawnSync('/bin/sh', ['-c', script, corvanePath, ...values], { encoding: 'buffer', env: db.env(), cwd: dir, timeout: 30000 });
      if (r.error) throw r.error;
      return { status: r.status, stdout: r.stdout.toString('utf8'), stdoutBytes: r.stdout, stderr: r.stderr.toString('utf8') };
    },
    remove() {
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
  return db;
}

function corvane(args, options = {}) {
  const r = spawnSync(corvanePath, args, { encoding: 'buffer', timeout: 30000, ...options });
  if (r.error) throw r.error;
  return { status: r.status, signal: r.signal, stdout: r.stdout ? r.stdout.toString('utf8') : '', stdoutBytes: r.stdout, stderr: r.stderr ? r.stderr.toString('utf8') : '' };
}

// A path as the document writes it: every slash escaped.
const jsonPath = (p) => p.replace(/["\\/]/g, (c) => `\\${c}`);

module.exports = {
  corvanePath, corvane, makeDatabase, describeIcons, decodePng, encodePng, encodePngOfType, solidPng, svg, hex, jsonPath, chunk, crc32,
  RED, GREEN, BLUE, YELLOW,
};
