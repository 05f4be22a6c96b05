// Checks a source map that vavizar wrote with the `source-map` package's
// consumer: at a spread of the map's segments, originalPositionFor must give
// the source, line and column that `vavizar where --json` gives, and inside a
// segment of template text or code `where` must run on one column per
// character from there.
//
//   node source_map_consumer.js SOURCE_MAP_MODULE VAVIZAR PAGE
//
// PAGE.map is the map. Prints one line of counts; exits 1 on a difference.
'use strict';
const fs = require('fs');
const { execFileSync } = require('child_process');
const [moduleDir, vavizar, page] = process.argv.slice(2);
const { SourceMapConsumer } = require(moduleDir);

function where(line, column) {
  const out = execFileSync(vavizar, ['where', '--json', `${page}:${line}:${column}`],
                           {stdio: ['ignore', 'pipe', 'pipe']});
  return JSON.parse(out.toString('utf8'));
}

// The link a standard consumer names: the first with a source place.
function mapped(chain) {
  return chain.find((link) => link.source !== undefined);
}

(async () => {
  const raw = JSON.parse(fs.readFileSync(`${page}.map`, 'utf8'));
  const consumer = await new SourceMapConsumer(raw);
  const mappings = [];
  consumer.eachMapping((m) => mappings.push(m));
  const failures = [];
  const counts = {};
  const picks = new Set();
  const wanted = Math.min(mappings.length, 40);
  for (let i = 0; i < wanted; ++i) picks.add(Math.floor((i * mappings.length) / wanted));
  for (const i of picks) {
    const m = mappings[i];
    const place = `${page}:${m.generatedLine}:${m.generatedColumn + 1}`;
    const answer = where(m.generatedLine, m.generatedColumn + 1);
    const kind = answer.chain[0].kind;
    counts[kind] = (counts[kind] || 0) + 1;
    const link = mapped(answer.chain);
    const original = consumer.originalPositionFor({
      line: m.generatedLine,
      column: m.generatedColumn,
    });
    const got = `${original.source}:${original.line}:${original.column + 1}`;
    const expected = link ? `${link.source}:${link.line}:${link.column}` : '(none)';
    if (got !== expected) failures.push(`${place}: source-map gives ${got}, where ${expected}`);
    // One character further inside copied text is one column further.
    const next = mappings[i + 1];
    const room = !next || next.generatedLine !== m.generatedLine ||
        next.generatedColumn > m.generatedColumn + 1;
    if ((kind === 'template' || kind === 'code') && room) {
      const lineText = answer.chain[0];
      try {
        const further = mapped(where(m.generatedLine, m.generatedColumn + 2).chain);
        if (further.source !== lineText.source || further.line !== lineText.line ||
            further.column !== lineText.column + 1)
          failures.push(`${place}+1: where gives ${further.source}:${further.line}:` +
                        `${further.column}, not the next column of ${expected}`);
      } catch (e) {
        // The segment's character ends its line: nothing follows it there.
      }
    }
  }
  consumer.destroy();
  const summary = Object.entries(counts).map(([k, n]) => `${k} ${n}`).join(', ');
  if (failures.length > 0) {
    console.log(failures.join('\n'));
    console.log(`${failures.length} of ${picks.size} places differ (${summary})`);
    process.exit(1);
  }
  for (const kind of (process.env.KINDS || '').split(' ').filter((k) => k)) {
    if (!counts[kind]) {
      console.log(`no place of kind ${kind} was compared (${summary})`);
      process.exit(1);
    }
  }
  console.log(`${page}.map: source-map agrees with vavizar where at ${picks.size} places ` +
              `(${summary})`);
})().catch((e) => {
  console.log(`source_map_consumer.js: ${e.stack || e}`);
  process.exit(1);
});
