// Runs the Khronos glTF validator on each file named; prints "errors warnings file" per file and
// then each error and warning it reported. Exit 77 when the validator is not installed.
import { readFile } from 'node:fs/promises';
import { dirname, join } from 'node:path';

let validator;
try {
  validator = await import('gltf-validator');
} catch {
  process.exit(77);
}
for (const file of process.argv.slice(2)) {
  const report = await validator.validateBytes(new Uint8Array(await readFile(file)), {
    uri: file,
    maxIssues: 20,
    externalResourceFunction: (uri) =>
      readFile(join(dirname(file), decodeURIComponent(uri))).then((b) => new Uint8Array(b)),
  });
  const { numErrors, numWarnings, messages } = report.issues;
  console.log(`${numErrors} ${numWarnings} ${file}`);
  for (const m of messages.filter((m) => m.severity <= 1))
    console.log(`  ${m.code} ${m.pointer ?? ''} ${m.message}`);
}
