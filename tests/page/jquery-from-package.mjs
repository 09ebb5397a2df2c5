// The page's js/jquery.min.js is jQuery 1.6.2's own minified build, taken
// from the npm package jquery@1.6.2 (pinned by package-lock.json). The package
// ships it wrapped for Node (dist/node-jquery.min.js); the browser file is the
// part from jQuery's licence header to the closing "})(window);", unchanged.
// The package's src/ folder is an older jQuery (1.5.1), so it is not used.
//
//   node jquery-from-package.mjs          prints the browser file
//   node jquery-from-package.mjs --write  writes it into app/res/page/js/
import { readFileSync, writeFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

export const jqueryTarget = fileURLToPath(new URL('../../app/res/page/js/jquery.min.js', import.meta.url));

export function jqueryBrowserFile() {
    const require = createRequire(import.meta.url);
    const wrapped = readFileSync(require.resolve('jquery/dist/node-jquery.min.js'), 'utf8');
    const start = wrapped.indexOf('/*!\n * jQuery JavaScript Library v1.6.2');
    const endMark = '})(window);';
    const end = wrapped.indexOf(endMark, start);
    if (start < 0 || end < 0) {
        throw new Error('jquery package: not the expected node-jquery.min.js of 1.6.2');
    }
    return wrapped.slice(start, end + endMark.length) + '\n';
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
    const text = jqueryBrowserFile();
    if (process.argv.includes('--write')) {
        writeFileSync(jqueryTarget, text);
        console.log(`wrote ${jqueryTarget} (${text.length} bytes)`);
    } else {
        process.stdout.write(text);
    }
}
