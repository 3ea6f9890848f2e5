// Runs the Khronos glTF validator on each file:
//   node validate_gltf.js NODE_MODULES FILE...
// NODE_MODULES is the folder that holds gltf-validator. Prints every issue found
// (errors, warnings, infos, hints) as "FILE: SEVERITY CODE POINTER MESSAGE" and
// exits 1 when any file has an error or a warning.
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require(path.resolve(process.argv[2], 'gltf-validator'));

const severities = ['error', 'warning', 'info', 'hint'];

async function main(files) {
    let failed = false;
    for (const file of files) {
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
            uri: file,
            maxIssues: 0,
            externalResourceFunction: () => Promise.reject(new Error('external resources are not expected')),
        });
        for (const message of report.issues.messages)
            console.log(`${file}: ${severities[message.severity]} ${message.code} ${message.pointer || ''} ${message.message}`);
        if (report.issues.numErrors > 0 || report.issues.numWarnings > 0)
            failed = true;
    }
    return failed ? 1 : 0;
}

main(process.argv.slice(3)).then((status) => process.exit(status), (error) => {
    console.error(String(error));
    process.exit(2);
});
