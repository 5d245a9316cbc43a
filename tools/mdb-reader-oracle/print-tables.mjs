// Prints every user table of a Jet database as the npm package mdb-reader reads it: "## name", then one JSON line a
// row. mdb-reader reads through the usage maps and checks page owners, independently of our own reader.
//   node print-tables.mjs FILE [PASSWORD]
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function plain(value) {
  if (value === null || value === undefined) return null;
  if (value instanceof Date) return value.toISOString();
  if (typeof value === "bigint") return value.toString();
  if (Buffer.isBuffer(value) || value instanceof Uint8Array) return Buffer.from(value).toString("hex");
  return value;
}

const [file, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : undefined);
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  const columns = table.getColumnNames();
  process.stdout.write(`## ${name}\n`);
  for (const row of table.getData()) {
    process.stdout.write(JSON.stringify(columns.map((c) => plain(row[c]))) + "\n");
  }
}
