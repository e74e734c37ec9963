// Runs the SQL file given in the current folder with DuckDB and prints the column
// names and then the rows of its last statement, a line each, every cell as the hex
// of its UTF-8 bytes after an x, and a space after it (NULL as "-").
// Usage: node duckdb_rows.mjs <path of @duckdb/node-api> <sql file>
import { readFileSync } from 'node:fs';

const [api, sqlFile] = process.argv.slice(2);
const { DuckDBInstance } = await import(api);
const instance = await DuckDBInstance.create(':memory:');
const connection = await instance.connect();
const reader = await connection.runAndReadAll(readFileSync(sqlFile, 'utf8'));
const hex = (cell) =>
  cell === null ? '-' : 'x' + Buffer.from(String(cell), 'utf8').toString('hex');
for (const row of [reader.columnNames(), ...reader.getRows()]) {
  console.log(row.map((cell) => hex(cell) + ' ').join(''));
}
