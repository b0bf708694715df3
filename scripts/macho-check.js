'use strict';
// Checks Mach-O files (thin or universal) for what macOS needs to load them,
// slice by slice: an LC_BUILD_VERSION for macOS whose minimum is the one
// given, and an embedded ad-hoc code signature whose page hashes match the
// bytes (arm64 macOS kills code that is unsigned or whose signature does not
// match; editing a binary after the link breaks it).
//   node scripts/macho-check.js --minos 12.0 FILE...
// Prints one line per slice and one per finding; exits 1 on any finding.
// Layouts: <mach-o/loader.h>, <mach-o/fat.h>, <kern/cs_blobs.h> of the SDK.
const crypto = require('node:crypto');
const fs = require('node:fs');

const FAT_MAGIC = 0xcafebabe;
const FAT_MAGIC_64 = 0xcafebabf;
const MH_MAGIC_64 = 0xfeedfacf;
const LC_CODE_SIGNATURE = 0x1d;
const LC_VERSION_MIN_MACOSX = 0x24;
const LC_BUILD_VERSION = 0x32;
const PLATFORM_MACOS = 1;
const CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
const CSMAGIC_CODEDIRECTORY = 0xfade0c02;
const CSSLOT_CODEDIRECTORY = 0;
const CS_ADHOC = 0x2;
const HASHES = { 1: 'sha1', 2: 'sha256' };
const CPU = { 0x01000007: 'x86_64', 0x0100000c: 'arm64' };

const version = (v) => `${v >>> 16}.${(v >> 8) & 0xff}${v & 0xff ? `.${v & 0xff}` : ''}`;

// The slices of a file: [{ arch, bytes }].
function slices(buf) {
  const magic = buf.readUInt32BE(0);
  if (magic === FAT_MAGIC || magic === FAT_MAGIC_64) {
    const wide = magic === FAT_MAGIC_64;
    const out = [];
    for (let i = 0, at = 8; i < buf.readUInt32BE(4); i++, at += wide ? 32 : 20) {
      const offset = wide ? Number(buf.readBigUInt64BE(at + 8)) : buf.readUInt32BE(at + 8);
      const size = wide ? Number(buf.readBigUInt64BE(at + 16)) : buf.readUInt32BE(at + 12);
      out.push(buf.subarray(offset, offset + size));
    }
    return out;
  }
  return [buf];
}

// The findings for one slice, and what it is.
function checkSlice(m, minos) {
  const findings = [];
  if (m.length < 32 || m.readUInt32LE(0) !== MH_MAGIC_64) return { arch: '?', findings: ['not a 64-bit Mach-O slice'] };
  const arch = CPU[m.readUInt32LE(4)] || `cpu 0x${m.readUInt32LE(4).toString(16)}`;
  let build = null;
  let signature = null;
  let oldStyle = false;
  for (let i = 0, at = 32; i < m.readUInt32LE(16); i++, at += m.readUInt32LE(at + 4)) {
    const cmd = m.readUInt32LE(at);
    if (cmd === LC_BUILD_VERSION) build = { platform: m.readUInt32LE(at + 8), minos: m.readUInt32LE(at + 12) };
    if (cmd === LC_VERSION_MIN_MACOSX) oldStyle = true;
    if (cmd === LC_CODE_SIGNATURE) signature = { dataoff: m.readUInt32LE(at + 8), datasize: m.readUInt32LE(at + 12) };
  }
  if (!build) {
    findings.push(`no LC_BUILD_VERSION${oldStyle ? ' (an LC_VERSION_MIN_MACOSX instead)' : ''}`);
  } else if (build.platform !== PLATFORM_MACOS) {
    findings.push(`LC_BUILD_VERSION is for platform ${build.platform}, not macOS`);
  } else if (version(build.minos) !== minos) {
    findings.push(`minos is ${version(build.minos)}, not ${minos}`);
  }
  if (!signature) {
    findings.push('no LC_CODE_SIGNATURE: unsigned');
  } else {
    findings.push(...checkSignature(m, signature));
  }
  return { arch, minos: build ? version(build.minos) : '-', signed: Boolean(signature), findings };
}

function checkSignature(m, { dataoff, datasize }) {
  if (dataoff + datasize > m.length) return ['the code signature lies past the end of the slice'];
  const blob = m.subarray(dataoff, dataoff + datasize);
  if (blob.readUInt32BE(0) !== CSMAGIC_EMBEDDED_SIGNATURE) return ['the code signature is not an embedded signature'];
  let cd = null;
  for (let i = 0; i < blob.readUInt32BE(8); i++) {
    if (blob.readUInt32BE(12 + i * 8) === CSSLOT_CODEDIRECTORY) cd = blob.subarray(blob.readUInt32BE(16 + i * 8));
  }
  if (!cd || cd.readUInt32BE(0) !== CSMAGIC_CODEDIRECTORY) return ['the code signature has no code directory'];
  const findings = [];
  const flags = cd.readUInt32BE(12);
  const hashOffset = cd.readUInt32BE(16);
  const nCodeSlots = cd.readUInt32BE(28);
  const codeLimit = cd.readUInt32BE(32);
  const hashSize = cd.readUInt8(36);
  const hash = HASHES[cd.readUInt8(37)];
  const pageSize = 2 ** cd.readUInt8(39);
  if (!(flags & CS_ADHOC)) findings.push('the code signature is not ad-hoc');
  if (codeLimit !== dataoff) findings.push(`the code signature covers ${codeLimit} bytes, not the ${dataoff} before it`);
  if (!hash) return [...findings, `unknown hash type ${cd.readUInt8(37)}`];
  if (nCodeSlots !== Math.ceil(codeLimit / pageSize)) findings.push(`${nCodeSlots} page hashes for ${codeLimit} bytes`);
  let bad = 0;
  for (let i = 0; i < nCodeSlots; i++) {
    const page = m.subarray(i * pageSize, Math.min((i + 1) * pageSize, codeLimit));
    const want = cd.subarray(hashOffset + i * hashSize, hashOffset + (i + 1) * hashSize);
    if (!crypto.createHash(hash).update(page).digest().subarray(0, hashSize).equals(want)) bad++;
  }
  if (bad) findings.push(`${bad} of ${nCodeSlots} pages do not match their hashes: the file changed after signing`);
  return findings;
}

function main(argv) {
  const at = argv.indexOf('--minos');
  if (at < 0 || !argv[at + 1] || argv.length < 3) {
    console.error('usage: node scripts/macho-check.js --minos X.Y FILE...');
    return 2;
  }
  const minos = argv[at + 1];
  const files = argv.filter((_, i) => i !== at && i !== at + 1);
  let failed = false;
  for (const file of files) {
    let buf;
    try {
      buf = fs.readFileSync(file);
    } catch (e) {
      console.log(`${file}: ${e.message}`);
      failed = true;
      continue;
    }
    for (const slice of slices(buf)) {
      let r;
      try {
        r = checkSlice(slice, minos);
      } catch (e) {
        r = { arch: '?', findings: [`unreadable: ${e.message}`] };  // a truncated or foreign file
      }
      console.log(`${file} (${r.arch}): minos ${r.minos || '-'}, ${r.signed ? 'signed' : 'unsigned'}`);
      for (const f of r.findings) console.log(`  ${f}`);
      failed = failed || r.findings.length > 0;
    }
  }
  return failed ? 1 : 0;
}

process.exitCode = main(process.argv.slice(2));
