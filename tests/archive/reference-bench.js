// Times the reference RAR decoder (node-unrar-js) extracting every member of an archive
// in memory; prints the best of N runs as "MB/s <value>".
//   node reference-bench.js ARCHIVE [PASSWORD] [RUNS]
'use strict';
const fs = require('fs');
const path = require('path');
const { createExtractorFromData } = require(path.join(__dirname, 'node_modules', 'node-unrar-js'));

async function main() {
  const [archive, password, runsText] = process.argv.slice(2);
  const runs = Number(runsText || 3);
  const data = fs.readFileSync(archive);
  const buffer = data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength);
  // One warm-up run compiles the WebAssembly module outside the timing.
  await createExtractorFromData({ data: buffer.slice(0), password: password || undefined });
  let best = 0;
  for (let r = 0; r < runs; r++) {
    const start = process.hrtime.bigint();
    const extractor = await createExtractorFromData({ data: buffer.slice(0), password: password || undefined });
    let bytes = 0;
    for (const file of extractor.extract({}).files) if (file.extraction) bytes += file.extraction.length;
    const seconds = Number(process.hrtime.bigint() - start) / 1e9;
    best = Math.max(best, bytes / seconds / 1e6);
  }
  console.log(`MB/s ${best.toFixed(1)}`);
}
main().catch((e) => { console.log(`failed: ${e.message}`); process.exit(1); });
