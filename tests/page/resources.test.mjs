// The page as a resource of the executable: what the resource script embeds,
// what the page references, jQuery's origin, and what the IE engine on the
// customer's machine needs of the document and its script.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, relative, sep } from 'node:path';
import { pagePath, rcEntries, rcPath, resDir, withPage } from './harness.mjs';
import { jqueryBrowserFile, jqueryTarget } from './jquery-from-package.mjs';

const open = withPage();
const pageDir = dirname(pagePath);
const html = readFileSync(pagePath, 'utf8');

// type, name, file under app/res/page
const expected = [
    ['HTML', '104', 'wayfarer.html'],
    ['JS', 'JQUERY.MIN.JS', 'js/jquery.min.js'],
    ...['appbg.jpg', 'sps.gif', 'graybg.gif', 'superscan.gif', 'help.gif', 'brand.gif', 'longbrand.gif',
        'loading.gif', 'a.gif', 'b.gif', 'brand2.gif', 'tabs.gif', 'tabs.png', 'v.gif', 'x.gif']
        .map((f) => ['IMAGES', f.toUpperCase(), `images/${f}`]),
];

function filesUnder(dir) {
    return readdirSync(dir).flatMap((name) => {
        const path = join(dir, name);
        return statSync(path).isDirectory() ? filesUnder(path) : [path];
    });
}

// Relative references of the page: src attributes and CSS url()s.
function references() {
    const refs = new Set();
    for (const m of html.matchAll(/\bsrc="([^"]+)"/g)) refs.add(m[1]);
    for (const m of html.matchAll(/url\(([^)]+)\)/g)) refs.add(m[1].replace(/["']/g, ''));
    return [...refs];
}

describe('resource script page.rc', () => {
    test('embeds the page and its files under their types and names', () => {
        const entries = rcEntries().map((e) => [e.type, e.name, relative(pageDir, e.file).split(sep).join('/')]);
        assert.deepEqual(entries.sort(), [...expected].sort());
    });

    test('leaves no file of the page folder out', () => {
        const embedded = new Set(rcEntries().map((e) => e.file));
        const missing = filesUnder(pageDir).filter((f) => !embedded.has(f));
        assert.deepEqual(missing, []);
    });

    test('every reference of the page resolves to a resource named by its path', () => {
        const byKey = new Map(rcEntries().map((e) => [`${e.type}/${e.name}`, e]));
        const refs = references();
        assert.ok(refs.length >= 10);
        for (const ref of refs) {
            const parts = ref.split('/');
            assert.equal(parts.length, 2, `${ref}: resource paths are TYPE/NAME`);
            const entry = byKey.get(`${parts[0].toUpperCase()}/${parts[1].toUpperCase()}`);
            assert.ok(entry, `${ref} has no resource`);
            assert.equal(entry.file, join(pageDir, ref));
        }
    });

    test('the images are the formats their names say', () => {
        const magic = { gif: 'GIF89a', jpg: '\xff\xd8\xff', png: '\x89PNG' };
        for (const [, , file] of expected.filter(([type]) => type === 'IMAGES')) {
            const head = readFileSync(join(pageDir, file)).subarray(0, 6).toString('latin1');
            assert.ok(head.startsWith(magic[file.split('.').pop()]), file);
        }
    });

    // Compiled as the application's resource script will include it, then
    // read back from the .res: the same bytes the tests load from disk.
    const windres = ['/usr/bin/i686-w64-mingw32-windres'].find(existsSync);
    test('compiles with windres into exactly these resources', { skip: !windres && 'i686-w64-mingw32-windres not installed' }, () => {
        const dir = mkdtempSync(join(tmpdir(), 'page-rc-'));
        try {
            const out = join(dir, 'page.res');
            execFileSync(windres, ['-I', resDir, rcPath, '-O', 'res', '-o', out], { cwd: tmpdir() });
            const found = readRes(readFileSync(out));
            assert.deepEqual(found.map((r) => `${r.type}/${r.name}`).sort(),
                expected.map(([type, name]) => `${type === 'HTML' ? 23 : type}/${name}`).sort());
            for (const [type, name, file] of expected) {
                const r = found.find((x) => String(x.name) === name && String(x.type) === (type === 'HTML' ? '23' : type));
                assert.ok(r.data.equals(readFileSync(join(pageDir, file))), `${name}: bytes differ from ${file}`);
            }
        } finally {
            rmSync(dir, { recursive: true, force: true });
        }
    });
});

// Entries of a .res file: header (sizes, type, name as ordinal or UTF-16
// string, DWORD-aligned) then the data, DWORD-aligned.
function readRes(buf) {
    const list = [];
    let at = 0;
    const idOrName = (p) => {
        if (buf.readUInt16LE(p) === 0xffff) return [buf.readUInt16LE(p + 2), p + 4];
        let end = p;
        while (buf.readUInt16LE(end) !== 0) end += 2;
        return [buf.subarray(p, end).toString('utf16le'), end + 2];
    };
    while (at + 8 <= buf.length) {
        const dataSize = buf.readUInt32LE(at);
        const headerSize = buf.readUInt32LE(at + 4);
        const [type, p1] = idOrName(at + 8);
        const [name] = idOrName(p1);
        const data = buf.subarray(at + headerSize, at + headerSize + dataSize);
        if (!(type === 0 && name === 0)) list.push({ type, name, data });
        at = (at + headerSize + dataSize + 3) & ~3;
    }
    return list;
}

describe('jQuery', () => {
    test('the embedded file is jQuery 1.6.2 as built by the jquery@1.6.2 package', () => {
        assert.ok(readFileSync(jqueryTarget).equals(Buffer.from(jqueryBrowserFile())),
            'app/res/page/js/jquery.min.js differs: run `npm run jquery` in tests/page');
        assert.match(readFileSync(jqueryTarget, 'utf8'), /^\/\*!\n \* jQuery JavaScript Library v1\.6\.2\n/);
    });

    test('is the one the page runs', async () => {
        const page = await open();
        assert.equal(await page.page.evaluate(() => jQuery.fn.jquery), '1.6.2');
    });
});

describe('document', () => {
    test('XHTML 1.0 Transitional, UTF-8 with a byte-order mark, stated document mode, empty title', () => {
        const raw = readFileSync(pagePath);
        assert.deepEqual([...raw.subarray(0, 3)], [0xef, 0xbb, 0xbf]);
        assert.ok(html.startsWith('\ufeff<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" '
            + '"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd">'));
        // the mode has to come before anything but the title and other metas
        assert.match(html, /<head>\s*<meta http-equiv="X-UA-Compatible" content="IE=edge" \/>/);
        assert.match(html, /<title><\/title>/);
    });

    test('body, fonts and colours as the dialog shows them', async () => {
        const page = await open();
        const got = await page.page.evaluate(() => {
            const s = getComputedStyle(document.body);
            const probe = document.createElement('span');
            document.body.appendChild(probe);
            const colour = (c) => { probe.className = c; return getComputedStyle(probe).color; };
            return {
                title: document.title,
                id: document.body.id,
                font: [s.fontSize, s.fontFamily],
                color: s.color,
                blue: colour('co-blue'),
                yellow: colour('co-yellow'),
                appUi: [document.getElementById('appUi').offsetWidth, document.getElementById('appUi').offsetHeight],
                canvas: [document.getElementById('canvas').offsetWidth, document.getElementById('canvas').offsetHeight],
                progress: document.querySelector('.progress').offsetWidth,
                pcHeight: document.querySelector('.progress .pc').offsetHeight,
                items: Array.from(document.querySelectorAll('#canvas > .item'), (e) => e.id),
                brands: Array.from(document.querySelectorAll('.brand h3'), (e) => e.textContent),
                footer: document.querySelector('.copyInfo').lastElementChild.id,
            };
        });
        assert.deepEqual(got, {
            title: '',
            id: 'CWayfarerDlg',
            font: ['12px', 'tahoma, arial, 宋体, sans-serif'],
            color: 'rgb(51, 51, 51)',
            blue: 'rgb(0, 51, 153)',
            yellow: 'rgb(250, 94, 0)',
            appUi: [830, 565],
            canvas: [814, 419],
            progress: 235,
            pcHeight: 12,
            items: ['iScan', 'iHelp'],
            brands: ['操作系统检测', '网络检测', '浏览器检测', '控件与驱动检测'],
            footer: 'usbkeysn',
        });
    });

    test('every image the page shows loads', async () => {
        const page = await open();
        await page.click('#tabs li.help a');
        await page.page.locator('.guide .title').nth(1).click();
        const broken = await page.page.evaluate(async () => {
            const urls = new Set(Array.from(document.images, (i) => i.src));
            for (const sheet of document.styleSheets) {
                for (const rule of sheet.cssRules) {
                    for (const m of rule.cssText.matchAll(/url\("([^"]+)"\)/g)) urls.add(m[1]);
                }
            }
            const bad = [];
            for (const url of urls) {
                const ok = await new Promise((resolve) => {
                    const img = new Image();
                    img.onload = () => resolve(img.naturalWidth > 0);
                    img.onerror = () => resolve(false);
                    img.src = url;
                });
                if (!ok) bad.push(url);
            }
            return [urls.size, bad];
        });
        assert.ok(broken[0] >= 10);
        assert.deepEqual(broken[1], []);
    });

    // IE7 lays out inline-block only on elements that are inline by nature.
    test('inline-block only on natively inline elements', async () => {
        const page = await open();
        const bad = await page.page.evaluate(() => Array.from(document.querySelectorAll('*'))
            .filter((e) => getComputedStyle(e).display === 'inline-block' && !['A', 'SPAN', 'IMG'].includes(e.tagName))
            .map((e) => e.tagName + '.' + e.className));
        assert.deepEqual(bad, []);
    });
});

describe('script for the IE engine (ES3, JScript)', () => {
    const scripts = [...html.matchAll(/<script type="text\/javascript">([\s\S]*?)<\/script>/g)].map((m) => m[1]);
    // strings and comments out first, so that only code is looked at
    const code = scripts.join('\n')
        .replace(/'(?:[^'\\\n]|\\.)*'|"(?:[^"\\\n]|\\.)*"/g, "''")
        .replace(/\/\*[\s\S]*?\*\//g, '')
        .replace(/\/\/[^\n]*/g, '');
    const rules = [
        ['let/const declarations', /\b(let|const)\s/],
        ['arrow functions', /=>/],
        ['template literals', /`/],
        ['spread or rest', /\.\.\./],
        ['trailing commas in literals (a syntax error or an extra element in JScript)', /,\s*[\]}]/],
        ['addEventListener (not in IE8 and older)', /addEventListener/],
        ['textContent, classList, querySelector (not in IE7)', /textContent|classList|querySelector/],
        ['ES5 library calls', /\.(forEach|map|filter|reduce|some|every|trim)\(|Object\.(keys|create|defineProperty)|Array\.isArray|JSON\.|Date\.now/],
        ['console (undefined without developer tools)', /\bconsole\./],
        ['reserved words as property names', /\.(class|default|delete|new|in|for|if|case|catch|finally|with|do|switch|throw|try|typeof|var|void|while|enum|super|import|export|extends)\b/],
        ['keywords of later editions', /\b(class|async|await|yield)\s/],
    ];

    test('has the two functions the dialog calls, at top level', () => {
        assert.equal(scripts.length, 1);
        assert.match(code, /^function setState\(category, item, value\) \{$/m);
        assert.match(code, /^function clearState\(category, item\) \{$/m);
    });

    for (const [what, pattern] of rules) {
        test(`no ${what}`, () => {
            const hit = pattern.exec(code);
            assert.equal(hit && code.slice(Math.max(0, hit.index - 40), hit.index + 40), null);
        });
    }

    test('no CSS that IE7 and IE8 cannot parse', () => {
        const css = /<style type="text\/css">([\s\S]*?)<\/style>/.exec(html)[1];
        for (const pattern of [/rgba\(|hsla\(/, /:(nth-|last-child|not\(|first-of-type)/, /calc\(/, /display:\s*(flex|grid)/, /\d(vw|vh|rem)\b/, /box-sizing/]) {
            assert.doesNotMatch(css, pattern);
        }
    });
});

