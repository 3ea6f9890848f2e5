// Validates JSON files against a JSON Schema (draft-07):
//   node validate_json.js NODE_MODULES SCHEMA FILE...
// NODE_MODULES is the folder that holds ajv. Prints each violation and exits 1
// when a file does not conform.
'use strict';
const fs = require('fs');
const path = require('path');
const Ajv = require(path.resolve(process.argv[2], 'ajv'));

const [schemaFile, ...files] = process.argv.slice(3);
const ajv = new Ajv({ allErrors: true, strict: false });
const validate = ajv.compile(JSON.parse(fs.readFileSync(schemaFile, 'utf8')));
let failed = false;
for (const file of files) {
    if (!validate(JSON.parse(fs.readFileSync(file, 'utf8')))) {
        failed = true;
        for (const error of validate.errors)
            console.log(`${file}: ${error.instancePath || '/'} ${error.message}`);
    }
}
process.exit(failed ? 1 : 0);
