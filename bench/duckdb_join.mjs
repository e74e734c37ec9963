// Natural join of CSV tables with DuckDB, all columns read as text.
// Usage: node duckdb_join.mjs <workload folder> <output csv>
import { DuckDBInstance } from '@duckdb/node-api';
import { readFileSync } from 'node:fs';
import path from 'node:path';

const [folder, output] = process.argv.slice(2);
const workload = JSON.parse(readFileSync(path.join(folder, 'workload.json'), 'utf8'));
const instance = await DuckDBInstance.create(':memory:');
const connection = await instance.connect();
for (const table of workload.tables) {
  const csv = path.join(folder, `${table.name}.csv`);
  await connection.run(
    `CREATE VIEW "${table.name}" AS SELECT * FROM read_csv('${csv}', all_varchar=true, ` +
      `header=true, delim=',', quote='"')`);
}
const columns = workload.result_columns.map((c) => `"${c}"`).join(', ');
// Tables without a column in common with those before them are joined by every
// pairing, which DuckDB spells CROSS JOIN.
const seen = new Set(workload.tables[0].columns);
let tables = `"${workload.tables[0].name}"`;
for (const table of workload.tables.slice(1)) {
  const shared = table.columns.some((c) => seen.has(c));
  tables += `${shared ? ' NATURAL JOIN ' : ' CROSS JOIN '}"${table.name}"`;
  table.columns.forEach((c) => seen.add(c));
}
await connection.run(`COPY (SELECT ${columns} FROM ${tables}) TO '${output}' (HEADER false)`);
