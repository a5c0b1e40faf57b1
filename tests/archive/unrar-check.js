// Extracts an archive with the reference decoder (node-unrar-js, the official unRAR built for
// WebAssembly) and compares every member with the tree it was packed from.
//   node unrar-check.js ARCHIVE ROOT [PASSWORD]
// Exit 0: every regular file under ROOT came out byte-identical, nothing else was in the archive.
'use strict';
const fs = require('fs');
const path = require('path');
const { createExtractorFromData } = require(path.join(__dirname, 'node_modules', 'node-unrar-js'));

function walk(root, rel, out) {
  for (const entry of fs.readdirSync(path.join(root, rel), { withFileTypes: true })) {
    const r = rel ? rel + '/' + entry.name : entry.name;
    if (entry.isDirectory()) walk(root, r, out);
    else if (entry.isFile()) out.push(r);
  }
  return out;
}

async function main() {
  const [archive, root, password] = process.argv.slice(2);
  const data = fs.readFileSync(archive);
  const buffer = data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength);
  const options = { data: buffer };
  if (password) options.password = password;
  const extractor = await createExtractorFromData(options);
  const expected = new Set(walk(root, '', []));
  const seen = new Set();
  let failures = 0;
  const extracted = extractor.extract({});
  for (const file of extracted.files) {
    const name = file.fileHeader.name.replace(/\\/g, '/');
    if (file.fileHeader.flags.directory) continue;
    if (!expected.has(name)) {
      console.log(`unexpected member ${name}`);
      failures++;
      continue;
    }
    seen.add(name);
    const want = fs.readFileSync(path.join(root, name));
    const got = Buffer.from(file.extraction);
    if (!want.equals(got)) {
      console.log(`content differs: ${name} (want ${want.length} bytes, got ${got.length})`);
      failures++;
    }
  }
  for (const name of expected) {
    if (!seen.has(name)) {
      console.log(`missing member ${name}`);
      failures++;
    }
  }
  console.log(`${archive}: ${seen.size} members checked, ${failures} problems`);
  process.exit(failures ? 1 : 0);
}

main().catch((e) => {
  console.log(`reference decoder failed: ${e.reason || ''} ${e.message}${e.file ? ' (' + e.file + ')' : ''}`);
  process.exit(1);
});
