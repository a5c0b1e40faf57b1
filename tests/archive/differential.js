// Differential test of RAR 2.0 decoding: archives from the stream generator (rar20-streamgen,
// every construct the format allows, chosen from a seed) must unpack to exactly what the
// generator meant, both in the reference decoder (node-unrar-js, the official unRAR built for
// WebAssembly) and in our reader (holdfast-pack test/extract).
//   node differential.js HOLDFAST_PACK RAR20_STREAMGEN [FIRST_SEED] [COUNT] [WORKDIR] [--PROBE]
// --probe-crossing adds matches that run past a solid member's end (not valid data: a probe of
// what the reference does with them; see rar20-streamgen).
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const modulePath = path.join(__dirname, 'node_modules', 'node-unrar-js');
if (!fs.existsSync(modulePath)) {
  console.log('node-unrar-js is missing: run tests/archive/setup.sh');
  process.exit(1);
}
const { createExtractorFromData } = require(modulePath);

const probe = process.argv.find((a) => a.startsWith('--'));
const args = process.argv.filter((a) => !a.startsWith('--'));
const [pack, generator] = args.slice(2, 4);
const first = Number(args[4] || 1);
const count = Number(args[5] || 150);
const work = args[6] || fs.mkdtempSync(path.join(os.tmpdir(), 'holdfast-differential-'));

async function reference(entry) {
  const data = fs.readFileSync(entry.archive);
  const options = { data: data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) };
  if (entry.password) options.password = entry.password;
  const problems = [];
  const got = new Map();
  try {
    const extractor = await createExtractorFromData(options);
    for (const file of extractor.extract({}).files) got.set(file.fileHeader.name, Buffer.from(file.extraction));
  } catch (e) {
    return [`reference failed: ${e.reason || ''} ${e.message}${e.file ? ' (' + e.file + ')' : ''}`];
  }
  entry.members.forEach((m, i) => {
    const want = fs.readFileSync(m.expected);
    const have = got.get(m.name) || got.get(m.name.replace(/\\/g, '/'));
    if (!have) problems.push(`reference: member ${i} missing`);
    else if (!want.equals(have)) problems.push(`reference: member ${i} differs (${firstDifference(want, have)})`);
  });
  return problems;
}

function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) if (a[i] !== b[i]) return `first at byte ${i} of ${a.length}, got ${b.length}`;
  return `lengths ${a.length} and ${b.length}`;
}

function ours(entry) {
  const problems = [];
  const pw = entry.password ? ['--password', entry.password] : [];
  const t = spawnSync(pack, ['test', entry.archive, ...pw], { encoding: 'utf8' });
  if (t.status !== 0) problems.push(`holdfast-pack test exited ${t.status}: ${t.stderr.trim()}`);
  // The last member of a solid archive makes the reader go through the whole stream.
  const last = entry.members.length - 1;
  const picks = entry.solid ? [last] : entry.members.map((_, i) => i);
  for (const i of picks) {
    const m = entry.members[i];
    const r = spawnSync(pack, ['extract', entry.archive, m.name, ...pw], { maxBuffer: 64 << 20 });
    if (r.status !== 0) problems.push(`holdfast-pack extract member ${i}: exit ${r.status}: ${r.stderr}`);
    else if (!fs.readFileSync(m.expected).equals(r.stdout))
      problems.push(`holdfast-pack extract member ${i} differs (${firstDifference(fs.readFileSync(m.expected), r.stdout)})`);
  }
  return problems;
}

async function main() {
  fs.mkdirSync(work, { recursive: true });
  const g = spawnSync(generator, [work, String(first), String(count), ...(probe ? ['262144', probe] : [])],
                     { encoding: 'utf8' });
  if (g.status !== 0) {
    console.log(`FAIL generator exited ${g.status}: ${g.stderr}`);
    process.exit(1);
  }
  const manifest = JSON.parse(fs.readFileSync(path.join(work, 'manifest.json'), 'utf8'));
  let failures = 0;
  let bytes = 0;
  for (const entry of manifest) {
    const problems = [...await reference(entry), ...ours(entry)];
    for (const m of entry.members) bytes += fs.statSync(m.expected).size;
    if (problems.length) {
      failures++;
      console.log(`FAIL seed ${entry.seed}${entry.solid ? ' (solid)' : ''}${entry.password ? ' (encrypted)' : ''}:`);
      for (const p of problems.slice(0, 10)) console.log(`  ${p}`);
    }
  }
  console.log('constructs written:');
  console.log(g.stdout.trimEnd().replace(/^/gm, '  '));
  console.log(`${manifest.length - failures} of ${manifest.length} archives agree (${(bytes / 1e6).toFixed(1)} MB unpacked)`);
  if (!args[6]) fs.rmSync(work, { recursive: true, force: true });
  process.exit(failures ? 1 : 0);
}

main().catch((e) => { console.log(e); process.exit(1); });
