// Conformance of holdfast-pack and our reader with the reference RAR decoder.
//   node conformance.js HOLDFAST_PACK [WORKDIR]
// Packs a generated corpus in every mode (stored, compressed, solid; no password and three
// passwords) and checks that the reference decoder (node-unrar-js, the official unRAR built for
// WebAssembly) and our own reader (holdfast-pack test/extract) give back every file unchanged.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const modulePath = path.join(__dirname, 'node_modules', 'node-unrar-js');
if (!fs.existsSync(modulePath)) {
  console.log(`node-unrar-js is missing: run tests/archive/setup.sh`);
  process.exit(1);
}
const { createExtractorFromData } = require(modulePath);

const pack = process.argv[2];
const work = process.argv[3] || fs.mkdtempSync(path.join(os.tmpdir(), 'holdfast-conformance-'));

// Deterministic generator (xorshift32) so failures reproduce.
let seed = 0x9e3779b9;
function rnd() {
  seed ^= seed << 13; seed >>>= 0;
  seed ^= seed >>> 17;
  seed ^= seed << 5; seed >>>= 0;
  return seed;
}
function randomBytes(n) {
  const b = Buffer.alloc(n);
  for (let i = 0; i < n; i++) b[i] = rnd() & 0xff;
  return b;
}
function text(n) {
  const words = ['effect', 'Blur', 'BEGIN', 'END', 'SIGNAL', 'scene', 'the', 'light', 'camera', 'frame',
                 '1000', '5000', '"Scene3"', 'INSERT_EFFECT', 'TRIGGER', 'glow', 'noise', 'mosaic'];
  let s = '';
  while (s.length < n) s += words[rnd() % words.length] + ((rnd() % 9) ? ' ' : '\r\n');
  return Buffer.from(s.slice(0, n));
}
function pcm16(frames, channels, noise) {
  const b = Buffer.alloc(frames * channels * 2);
  for (let i = 0; i < frames; i++) {
    for (let c = 0; c < channels; c++) {
      const v = Math.round(9000 * Math.sin(i * (0.011 + c * 0.004)) + 3000 * Math.sin(i * 0.0007 * (c + 1)) +
                           (noise ? (rnd() % 64) - 32 : 0));
      b.writeInt16LE(v, (i * channels + c) * 2);
    }
  }
  return b;
}
function pcm8(n) {
  const b = Buffer.alloc(n);
  for (let i = 0; i < n; i++) b[i] = (128 + Math.round(100 * Math.sin(i * 0.05)) + (rnd() % 5)) & 0xff;
  return b;
}
function write(root, rel, data) {
  const p = path.join(root, rel);
  fs.mkdirSync(path.dirname(p), { recursive: true });
  fs.writeFileSync(p, data);
}

function makeCorpus(root) {
  const block = randomBytes(700 * 1024);
  const files = {
    'data/empty.bin': Buffer.alloc(0),
    'data/empty2.txt': Buffer.alloc(0),
    'data/one.bin': Buffer.from([0x41]),
    'data/zero-byte.bin': Buffer.from([0]),
    'data/pad15.bin': randomBytes(15),
    'data/pad16.bin': randomBytes(16),
    'data/pad17.bin': randomBytes(17),
    'data/scripts/demo.scr': text(6000),
    'data/scripts/Long Name With Spaces.txt': text(300),
    'data/text/big.txt': text(900 * 1024),
    'data/random/noise.bin': randomBytes(300 * 1024),
    'data/runs/zeros.bin': Buffer.alloc(2 * 1024 * 1024),
    'data/runs/pattern.bin': Buffer.from('abcabcabd'.repeat(40000)),
    'data/runs/bytes.bin': Buffer.concat([Buffer.alloc(5000, 7), Buffer.alloc(3, 8), Buffer.alloc(70000, 9)]),
    'data/audio/stereo16.raw': pcm16(250000, 2, true),
    'data/audio/mono16.raw': pcm16(200000, 1, true),
    'data/audio/clean16.raw': pcm16(100000, 2, false),
    'data/audio/mono8.raw': pcm8(150000),
    // Repeats far apart: exercises the long distance codes up to the 1 MiB window.
    'data/far/repeat.bin': Buffer.concat([block, text(200 * 1024), block.subarray(0, 300000)]),
    'data/random/noise-copy.bin': null, // filled below: same bytes as noise.bin (a cross-member match)
    'data/mixed/several-mb.bin': Buffer.concat([text(1500000), randomBytes(500000), pcm16(300000, 2, true),
                                                Buffer.alloc(400000, 0x55), text(800000)]),
    'data/a/b/c/d/e/f/g/h/i/j/deep.txt': text(1000),
    'data/MixedCase/Texture.PNG': randomBytes(2000),
  };
  files['data/random/noise-copy.bin'] = files['data/random/noise.bin'];
  // 24-bit mono samples (three byte channels) and block-size edges of the encoder.
  const pcm24 = Buffer.alloc(3 * 90000);
  for (let i = 0; i < 90000; i++) pcm24.writeIntLE(Math.round(3e6 * Math.sin(i * 0.013)) + (rnd() % 256), 3 * i, 3);
  files['data/audio/mono24.raw'] = pcm24;
  files['data/edges/block-minus-1.bin'] = text(128 * 1024 - 1);
  files['data/edges/block-plus-1.bin'] = pcm16(32769, 2, true).subarray(0, 128 * 1024 + 1);
  // Many small members: in a solid archive each one continues the stream and switches tables.
  for (let i = 0; i < 150; i++) {
    const n = rnd() % 3000;
    files[`data/small/file${String(i).padStart(3, '0')}.txt`] = i % 3 ? text(n) : randomBytes(n % 300);
  }
  for (const [rel, data] of Object.entries(files)) write(root, rel, data);
  return Object.keys(files);
}

async function referenceCheck(archive, root, names, password) {
  const data = fs.readFileSync(archive);
  const options = { data: data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) };
  if (password) options.password = password;
  const problems = [];
  const seen = new Set();
  try {
    const extractor = await createExtractorFromData(options);
    for (const file of extractor.extract({}).files) {
      if (file.fileHeader.flags.directory) continue;
      const name = file.fileHeader.name.replace(/\\/g, '/');
      if (!names.includes(name)) { problems.push(`reference: unexpected member ${name}`); continue; }
      seen.add(name);
      const want = fs.readFileSync(path.join(root, name));
      if (!want.equals(Buffer.from(file.extraction)))
        problems.push(`reference: ${name} differs (${want.length} vs ${file.extraction.length} bytes)`);
    }
  } catch (e) {
    problems.push(`reference decoder failed: ${e.reason || ''} ${e.message}${e.file ? ' (' + e.file + ')' : ''}`);
  }
  for (const n of names) if (!seen.has(n) && !problems.length) problems.push(`reference: missing ${n}`);
  return problems;
}

function ownCheck(archive, root, names, password) {
  const problems = [];
  const pw = password ? ['--password', password] : [];
  const t = spawnSync(pack, ['test', archive, ...pw], { encoding: 'utf8' });
  if (t.status !== 0) problems.push(`holdfast-pack test failed: ${t.stderr}`);
  for (const name of names) {
    // The many small members are covered by `test` (CRC of each); extract a sample of them.
    if (name.startsWith('data/small/') && !name.endsWith('0.txt')) continue;
    // Alternate separators to cover the look-up rule ('/' finds the '\' the archive stores).
    const asked = names.indexOf(name) % 2 ? name.replace(/\//g, '\\') : name;
    const r = spawnSync(pack, ['extract', archive, asked, ...pw], { maxBuffer: 64 << 20 });
    if (r.status !== 0) { problems.push(`holdfast-pack extract ${name}: exit ${r.status}: ${r.stderr}`); continue; }
    if (!fs.readFileSync(path.join(root, name)).equals(r.stdout)) problems.push(`holdfast-pack extract ${name}: differs`);
  }
  return problems;
}

// A wrong password must fail in both decoders, never hand out data.
async function wrongPasswordCheck(archive) {
  const problems = [];
  const t = spawnSync(pack, ['test', archive, '--password', 'wrong'], { encoding: 'utf8' });
  if (t.status !== 1) problems.push(`holdfast-pack test with a wrong password exited ${t.status}`);
  const r = spawnSync(pack, ['extract', archive, 'data/scripts/demo.scr', '--password', 'wrong']);
  if (r.status !== 1 || r.stdout.length) problems.push('holdfast-pack extract with a wrong password did not fail cleanly');
  const data = fs.readFileSync(archive);
  try {
    const extractor = await createExtractorFromData({
      data: data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength), password: 'wrong' });
    const files = [...extractor.extract({ files: ['data\\scripts\\demo.scr', 'data/scripts/demo.scr'] }).files];
    if (files.some((f) => f.extraction && f.extraction.length)) problems.push('reference accepted a wrong password');
  } catch (e) {
    // expected: the reference reports bad data or a bad password
  }
  return problems;
}

async function main() {
  const root = path.join(work, 'tree');
  fs.rmSync(root, { recursive: true, force: true });
  const names = makeCorpus(root);
  const modes = [['store', []], ['compress', ['--compress']], ['solid', ['--compress', '--solid']],
                 ['solid-store', ['--solid']]];
  const passwords = ['', 'tolvrask', 'abc', 'a longer pass phrase!'];
  let failures = 0, checks = 0;
  for (const [mode, flags] of modes) {
    for (const password of passwords) {
      const archive = path.join(work, `${mode}-${password.length}.qzd`);
      const label = `${mode}, ${password ? 'password "' + password + '"' : 'no password'}`;
      const c = spawnSync(pack, ['create', archive, root, '--password', password, ...flags], { encoding: 'utf8' });
      if (c.status !== 0) {
        console.log(`FAIL ${label}: create exited ${c.status}: ${c.stderr}`);
        failures++;
        continue;
      }
      const problems = [...await referenceCheck(archive, root, names, password),
                        ...ownCheck(archive, root, names, password)];
      if (password) problems.push(...await wrongPasswordCheck(archive));
      checks++;
      const size = fs.statSync(archive).size;
      if (problems.length) {
        failures++;
        console.log(`FAIL ${label}:`);
        for (const p of problems.slice(0, 20)) console.log(`  ${p}`);
      } else {
        console.log(`ok   ${label}: ${names.length} members, archive ${size} bytes`);
      }
      fs.rmSync(archive, { force: true });
    }
  }
  if (!process.argv[3]) fs.rmSync(work, { recursive: true, force: true });
  console.log(`${checks - failures} passed, ${failures} failed`);
  process.exit(failures ? 1 : 0);
}

main().catch((e) => { console.log(e); process.exit(1); });
