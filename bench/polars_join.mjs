// Natural join of CSV tables with Polars, all columns read as text, scanned lazily.
// Usage: node polars_join.mjs <workload folder> <output csv>
import pl from 'nodejs-polars';
import { readFileSync } from 'node:fs';
import path from 'node:path';

const [folder, output] = process.argv.slice(2);
const workload = JSON.parse(readFileSync(path.join(folder, 'workload.json'), 'utf8'));
const scan = (table) =>
  pl.scanCSV(path.join(folder, `${table.name}.csv`), { inferSchemaLength: 0, hasHeader: true });
let joined = scan(workload.tables[0]);
const seen = new Set(workload.tables[0].columns);
for (const table of workload.tables.slice(1)) {
  const shared = table.columns.filter((c) => seen.has(c));
  joined = shared.length > 0
    ? joined.join(scan(table), { on: shared, how: 'inner' })
    : joined.join(scan(table), { how: 'cross' });
  table.columns.forEach((c) => seen.add(c));
}
(await joined.select(...workload.result_columns).collect()).writeCSV(output, { includeHeader: false });
