// node sheetjs_folder.js IN_FOLDER OUT_FOLDER
// SheetJS as a folder converter: one node process reads every workbook of IN_FOLDER and writes
// OUT_FOLDER/<name>.txt with the visible sheets as tab-delimited text (the cells' shown values),
// sheets parted by a form-feed line, as the product writes a whole workbook.
"use strict";
const fs = require("fs");
const path = require("path");
const XLSX = require("xlsx");

const [inDir, outDir] = process.argv.slice(2);
if (!inDir || !outDir) {
  console.error("usage: node sheetjs_folder.js IN_FOLDER OUT_FOLDER");
  process.exit(2);
}
fs.mkdirSync(outDir, { recursive: true });
let failures = 0;
for (const name of fs.readdirSync(inDir).sort()) {
  if (!/\.xls[xmb]?$/i.test(name)) continue;
  try {
    // dense: rows as arrays, the documented setting for large sheets.
    const book = XLSX.readFile(path.join(inDir, name), { dense: true });
    const meta = (book.Workbook && book.Workbook.Sheets) || [];
    const texts = [];
    book.SheetNames.forEach((sheetName, i) => {
      if (meta[i] && meta[i].Hidden) return;
      texts.push(XLSX.utils.sheet_to_csv(book.Sheets[sheetName], { FS: "\t" }));
    });
    const base = name.replace(/\.[^.]*$/, "");
    fs.writeFileSync(path.join(outDir, base + ".txt"), texts.join("\n\f\n") + "\n");
  } catch (error) {
    failures++;
    console.error(`${name}: ${error.message}`);
  }
}
process.exit(failures ? 1 : 0);
